// The program's name, version and description.
#include "app/AppInfo.h"

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

}  // namespace AppInfo
