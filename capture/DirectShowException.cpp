// EDirectShowException.
#include "capture/DirectShowException.h"

#include <cstring>

static std::string FormatMessage(int code) {
    char hex[32];
    std::snprintf(hex, sizeof hex, " ($%x).", static_cast<unsigned>(code));
    return std::string(std::strerror(code)) + hex;
}

EDirectShowException::EDirectShowException(int code)
    : std::runtime_error(FormatMessage(code)), FCode(code) {}

QString EDirectShowException::Message() const {
    return QString::fromUtf8(what());
}
