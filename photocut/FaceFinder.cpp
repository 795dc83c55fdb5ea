// The face search lives in a module of its own, libsnapix-faces.so (FaceSearch.cpp),
// loaded on the first search: OpenCV is most of the libraries the programs would
// otherwise load at every start, and most starts never look for a face.
#include "photocut/FaceFinder.h"

#include <dlfcn.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace FaceFinder {

namespace {

using TFindFaces = void (*)(const QImage*, TFaceFind*);
using TVersion = const char* (*)();

struct TModule {
    TFindFaces Find = nullptr;
    QString Error;  // why there is no module
};

// Beside the program (the build tree), or in the private library folder of the prefix
// the program is installed in, found from the program's own place so that any prefix
// (and a copy of one) works.
QStringList ModuleCandidates() {
    const QString folder = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    if (folder.isEmpty()) {
        return {};
    }
    return {folder + QStringLiteral("/" SNAPIX_FACES_MODULE),
            QDir::cleanPath(folder +
                            QStringLiteral("/../" SNAPIX_FACES_SUBDIR "/" SNAPIX_FACES_MODULE))};
}

TModule Load() {
    TModule module;
    QStringList tried;
    for (const QString& path : ModuleCandidates()) {
        if (!QFileInfo(path).isFile()) {
            tried << path;
            continue;
        }
        // Never unloaded: the searches may run on any thread for the program's life.
        void* handle = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            module.Error =
                QStringLiteral("无法载入人脸识别模块: %1").arg(QString::fromLocal8Bit(::dlerror()));
            return module;
        }
        const auto version = reinterpret_cast<TVersion>(::dlsym(handle, "snapix_faces_version"));
        const auto find = reinterpret_cast<TFindFaces>(::dlsym(handle, "snapix_find_faces"));
        if (!version || !find || qstrcmp(version(), SNAPIX_VERSION) != 0) {
            module.Error = QStringLiteral("人脸识别模块 %1 不属于本版本 (%2)")
                               .arg(path, QStringLiteral(SNAPIX_VERSION));
            return module;
        }
        module.Find = find;
        return module;
    }
    module.Error = QStringLiteral("找不到人脸识别模块 (%1)").arg(tried.join(QStringLiteral(", ")));
    return module;
}

}  // namespace

TFaceFind Find(const QImage& photo) {
    // Loaded once, by whichever thread searches first; the others wait for it.
    static const TModule module = Load();
    TFaceFind result;
    if (!module.Find) {
        result.Error = module.Error;
        return result;
    }
    module.Find(&photo, &result);
    return result;
}

}  // namespace FaceFinder
