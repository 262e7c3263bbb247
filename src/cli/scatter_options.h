#pragma once

#include "scatter/splitter.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>

#include <optional>

class TextTable;

// The options of the commands that scatter a source (pwq, send): how it is split, what
// the manifest says besides the parts, and where the manifest goes.
struct ScatterOptions {
    QCommandLineOption parts{"parts", "", "N", "3"};
    QCommandLineOption name{"name", "", "BASE"};
    QCommandLineOption ext{"ext", "", "EXT", "bin"};
    QCommandLineOption savePath{"save-path", "", "DIR"};
    QCommandLineOption user{"user", "", "TEXT"};
    QCommandLineOption comment{"comment", "", "TEXT"};
    QCommandLineOption output{QStringList{"o", "output"}, "", "OUT"};
    // Added by ParseCommandArguments.
    QCommandLineOption quiet{QStringList{"q", "quiet"}};

    void addTo(QCommandLineParser& parser) const;
};

// After parsing: -o is required and --parts must be a number. The usage failure's
// status when not.
std::optional<int> CheckScatterOptions(const QCommandLineParser& parser, const ScatterOptions& options,
                                       const QString& command, const QString& usage);

// The split the options ask for, of the one positional argument.
SplitRequest ScatterSplitRequest(const QCommandLineParser& parser, const ScatterOptions& options);

// Splits into the upload table with a progress line; the whole source's CRC, or nothing
// (the reason shown) when the split was refused or failed.
std::optional<uint32_t> SplitForScatter(const SplitRequest& request, TextTable& uploads, bool quiet);

// Makes the manifest of the upload table with the source's CRC from the split (the
// source is not read again), writes it where -o says and prints its path; false, the
// reason shown, when it cannot be written.
bool WriteScatterManifest(const QCommandLineParser& parser, const ScatterOptions& options,
                          const SplitRequest& request, uint32_t fileCrc, const TextTable& uploads);
