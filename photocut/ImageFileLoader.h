// TImageFileLoader: decodes a chosen picture file on a worker thread and hands the
// result back to the GUI thread, so that the window never waits for a file of unknown
// size. A newer load, Cancel or the loader's end cancels a load still running; the
// result of a cancelled load is never delivered.
#pragma once

#include <cstdint>
#include <memory>

#include <QImage>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include "photocut/ImageFile.h"

class TImageFileLoader : public QObject {
    Q_OBJECT

  public:
    // Made on the GUI thread; raises Qt's image allocation limit to the budget there.
    explicit TImageFileLoader(QObject* parent = nullptr,
                              const ImageFile::TBudget& budget = ImageFile::TBudget());
    // Cancels the load in progress and waits for its worker, which notices within one
    // row of decoding (or one read of Qt's decoders).
    ~TImageFileLoader() override;

    // Starts decoding `path` with LoadImageFile; returns at once. A load still running
    // is cancelled first.
    void Load(const QString& path);
    // Cancels the load in progress, if any. Its result is dropped.
    void Cancel();

    bool Loading() const { return !FPath.isEmpty(); }
    // The file being loaded; empty when idle.
    const QString& LoadingPath() const { return FPath; }

    // Lets go of a picture on a worker thread: handing a few hundred MB back to the
    // system takes tens of milliseconds the GUI thread should not wait for.
    void Release(QImage picture);

    // Blocks until no worker runs (tests and benchmarks; results still arrive through
    // the event loop).
    void WaitForWorkers();

  signals:
    // On the GUI thread, for the load that is current when it ends.
    void Loaded(const QString& path, const QImage& picture);
    void Failed(const QString& path, const QString& reason);

  private:
    struct TJob;
    void Finish(uint64_t id, const QString& path, ImageFile::TDecoded decoded);

    const ImageFile::TBudget FBudget;
    QThreadPool FWorkers;
    std::shared_ptr<TJob> FCurrent;  // the load whose result is wanted
    uint64_t FNextId = 1;
    QString FPath;
};
