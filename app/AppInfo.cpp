// The program's name, version and description.
#include "app/AppInfo.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace AppInfo {

QString Title() {
    return QStringLiteral("Snapix 拍照");
}

QString Version() {
    return QStringLiteral(SNAPIX_VERSION);
}

QString Description() {
    return QStringLiteral("摄像头拍照工具: 实时预览, 定时与连续拍照, 字幕与日期时间, 证件照剪切.");
}

QTranslator* InstallQtTranslation() {
    // Owned by the application object: it must outlive every dialog.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return nullptr;
    }
    QCoreApplication::installTranslator(translator);
    return translator;
}

}  // namespace AppInfo
