// The parts of a photograph's file name.
#include "photo/Names.h"

namespace PhotoPipeline {

QString Extension(uint8_t fileFormat) {
    return fileFormat == 1 ? QStringLiteral(".bmp") : QStringLiteral(".jpg");
}

QString DateTimeName(const QDateTime& now) {
    return now.toString(QStringLiteral("yyyyMMddHHmmss"));
}

QString SerialName(uint32_t number) {
    return QStringLiteral("%1").arg(number, 8, 10, QLatin1Char('0'));
}

}  // namespace PhotoPipeline
