#pragma once

#include <QByteArray>
#include <QString>

// Test data that is the same at every run (seeded) and quick to make at any size.
QByteArray SeededBytes(qint64 size, quint32 seed);

// The whole file, or "<missing>" when it cannot be read (so a comparison fails visibly).
QByteArray ReadFileBytes(const QString& path);
// Creates or truncates the file with the bytes; the test fails when it cannot.
void WriteFileBytes(const QString& path, const QByteArray& bytes);
