#pragma once

#include <QString>

class ManifestLines;
class TextTable;
class UserPrompt;

// What the caller does after Check and fill: start the first scheduling pass
// (Download!) over the freshly filled table, or nothing because the manifest was
// refused (or, for Open/Download, never read).
enum class FillOutcome { Refused, StartFirstPass };

// Check and fill (`btnldpwq2Click`): checks the manifest lines (signature, version, and
// that every file the gather would create has a plain file name) and refills the
// download table from them: one row per part, or for version 2 one per data part. A refused manifest shows its message and leaves the table
// as it was. Used by Open/Download and by the browser's manifest links.
FillOutcome CheckAndFill(const ManifestLines& mempwq, TextTable& downloadTable, UserPrompt& prompt);

// The source of Open/Download: the first command-line argument, the first time there
// is one (and `commandLineFlag` is then set), otherwise a file dialog ("pwq (*.pwq)").
// Empty when the user cancels.
QString ChooseManifestPath(const QString& firstArgument, bool& commandLineFlag, UserPrompt& prompt);

// Reads the manifest file into `mempwq` and runs Check and fill. A file that cannot be
// read is reported through the prompt and changes nothing (the lines are replaced only
// after a successful read).
FillOutcome OpenManifestFile(const QString& path, ManifestLines& mempwq, TextTable& downloadTable,
                             UserPrompt& prompt);
