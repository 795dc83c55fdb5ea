// The parts of a photograph's file name.
#pragma once

#include <cstdint>

#include <QDateTime>
#include <QString>

namespace PhotoPipeline {

// ".bmp" for 1, ".jpg" for 0 and any other value.
QString Extension(uint8_t fileFormat);
// "YYYYMMDDHHMMSS", 24-hour clock.
QString DateTimeName(const QDateTime& now);
// "%.8u": at least eight digits, zero-padded.
QString SerialName(uint32_t number);

}  // namespace PhotoPipeline
