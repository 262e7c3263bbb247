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
    QCommandLineOption recovery{"recovery", "", "M", "0"};
    QCommandLineOption sha256{"sha256"};
    // Added by ParseCommandArguments.
    QCommandLineOption quiet{QStringList{"q", "quiet"}};

    void addTo(QCommandLineParser& parser) const;
};

// After parsing: -o is required and --parts and --recovery must be numbers. The usage
// failure's status when not.
std::optional<int> CheckScatterOptions(const QCommandLineParser& parser, const ScatterOptions& options,
                                       const QString& command, const QString& usage);

// The split the options ask for, of the one positional argument.
SplitRequest ScatterSplitRequest(const QCommandLineParser& parser, const ScatterOptions& options);

// Splits into the upload table with a progress line; the whole source's CRC (and SHA-256
// when asked for), or nothing (the reason shown) when the split was refused or failed.
std::optional<SplitOutcome> SplitForScatter(const SplitRequest& request, TextTable& uploads, bool quiet);

// Makes the manifest of the upload table with the source's CRC and SHA-256 from the split
// (the source is not read again), writes it where -o says and prints its path; false,
// the reason shown, when it cannot be made or written.
bool WriteScatterManifest(const QCommandLineParser& parser, const ScatterOptions& options,
                          const SplitRequest& request, const SplitOutcome& split, const TextTable& uploads);

// The help lines of --recovery and --sha256, shared by split, pwq and send.
#define PW_CLI_RECOVERY_OPTIONS_HELP \
    "  --recovery M       also M recovery parts, 0..254 (N + M at most 255), named\n" \
    "                     BASErJ.EXT: any N of the N + M parts rebuild the file; every\n" \
    "                     part then has a SHA-256 too, and a manifest is version 2\n" \
    "  --sha256           the SHA-256 of every part and of the file, and so a version-2\n" \
    "                     manifest, even without recovery parts\n"
