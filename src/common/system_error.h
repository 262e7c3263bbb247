#pragma once

#include <QString>

// The system's own words for an errno value ("No such file or directory").
QString SystemReason(int error);

// The message of a failed file operation: what + path + ": " + the system's reason
// ("Cannot open the part file /x/p1.bin: No such file or directory").
QString SystemError(const QString& what, const QString& path, int error);
