#pragma once

#include "ftp/ftp_client.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QTemporaryDir>

// A TFtpClient with its protocol lines, completions and progress recorded.
struct FtpClientHarness {
    TFtpClient client;
    QStringList display;
    QList<QPair<int, int>> done;    // (request, error) of every OnRequestDone, in order
    QList<qint64> progress;         // the count of every progress report
    QHash<QString, qint64> countAtReply;  // TransferCount when a reply line was last shown
    QTemporaryDir dir;

    explicit FtpClientHarness(quint16 port, const QString& host = QStringLiteral("127.0.0.1"));
    // A local file of the given size with varied bytes.
    QString makeFile(const QString& name, qint64 size);
    QByteArray fileBytes(const QString& path) const;
    // Checks each expected line against the display, in order: a line ending in "*"
    // only has to begin the shown line. Empty when they match, else the difference.
    QString displayMismatch(const QStringList& expected) const;
};
