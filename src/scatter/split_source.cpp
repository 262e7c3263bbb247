#include "scatter/split_source.h"

#include "common/system_error.h"

#include <QFile>
#include <cerrno>
#include <cstring>

QString FileNameOfPath(const QString& path) { return path.mid(path.lastIndexOf('/') + 1); }

QString OrdinaryFileProblem(const QString& path, const struct stat& info) {
    if (S_ISDIR(info.st_mode))
        return "it is a directory";
    if (!S_ISREG(info.st_mode))
        return "it is not a regular file";
    // A directory search on the original platform skips hidden files; a leading dot is
    // what marks a file hidden here.
    if (FileNameOfPath(path).startsWith('.'))
        return "it is a hidden file";
    return {};
}

OrdinaryFile InspectOrdinaryFile(const QString& path) {
    if (path.isEmpty())
        return {-1, "no file named"};
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {-1, SystemReason(errno)};
    QString problem = OrdinaryFileProblem(path, info);
    if (!problem.isEmpty())
        return {-1, problem};
    return {static_cast<qint64>(info.st_size), {}};
}
