// TImageFileLoader: LoadImageFile on a worker thread, the result back on the GUI thread.
#include "photocut/ImageFileLoader.h"

#include <QMetaObject>

struct TImageFileLoader::TJob {
    uint64_t Id = 0;
    ImageFile::TCancelFlag Cancel{false};
};

TImageFileLoader::TImageFileLoader(QObject* parent, const ImageFile::TBudget& budget)
    : QObject(parent), FBudget(budget) {
    ImageFile::AllowQtDecoding(FBudget);
    // A cancelled load may still be finishing its last row when the next one starts.
    FWorkers.setMaxThreadCount(2);
    FWorkers.setExpiryTimeout(5000);
}

TImageFileLoader::~TImageFileLoader() {
    Cancel();
    FWorkers.waitForDone();
}

void TImageFileLoader::Load(const QString& path) {
    Cancel();
    auto job = std::make_shared<TJob>();
    job->Id = FNextId++;
    FCurrent = job;
    FPath = path;
    const ImageFile::TBudget budget = FBudget;
    FWorkers.start([this, job, path, budget] {
        // Worker thread: nothing here touches the loader but the queued hand-back, and
        // the loader's destructor waits for this function to return.
        ImageFile::TDecoded decoded = ImageFile::LoadImageFile(path, budget, &job->Cancel);
        if (job->Cancel.load()) {
            return;
        }
        QMetaObject::invokeMethod(
            this,
            [this, id = job->Id, path, decoded = std::move(decoded)]() mutable {
                Finish(id, path, std::move(decoded));
            },
            Qt::QueuedConnection);
    });
}

void TImageFileLoader::Cancel() {
    if (FCurrent) {
        FCurrent->Cancel.store(true);
        FCurrent.reset();
    }
    FPath.clear();
}

void TImageFileLoader::Release(QImage picture) {
    if (picture.isNull()) {
        return;
    }
    // Freed where the last reference goes: on the worker, unless someone still shares it.
    FWorkers.start([picture = std::move(picture)]() mutable { picture = QImage(); });
}

void TImageFileLoader::WaitForWorkers() {
    FWorkers.waitForDone();
}

void TImageFileLoader::Finish(uint64_t id, const QString& path, ImageFile::TDecoded decoded) {
    // GUI thread. A result that was overtaken by a newer load or a cancel is dropped.
    if (!FCurrent || FCurrent->Id != id || decoded.Cancelled) {
        return;
    }
    FCurrent.reset();
    FPath.clear();
    if (decoded.Loaded()) {
        emit Loaded(path, decoded.Picture);
    } else {
        emit Failed(path, decoded.Error);
    }
}
