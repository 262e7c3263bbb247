#pragma once

#include <QString>
#include <QtGlobal>

#include <sys/stat.h>

// What a path names, as the split sees it: an ordinary file and its size, or the
// reason why it is not one. One rule for FileSizeOf, the labels and the split itself.
struct OrdinaryFile {
    qint64 size = -1;
    QString problem;  // empty when the path names an ordinary file
};

OrdinaryFile InspectOrdinaryFile(const QString& path);

// The same rule applied to what stat/fstat returned for a file of the given name.
QString OrdinaryFileProblem(const QString& path, const struct stat& info);

// The last path component ("/a/b/movie.avi" -> "movie.avi"; a path ending in "/"
// gives an empty name).
QString FileNameOfPath(const QString& path);
