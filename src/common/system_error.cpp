#include "common/system_error.h"

#include <cstring>

QString SystemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString SystemError(const QString& what, const QString& path, int error) {
    return what + path + ": " + SystemReason(error);
}
