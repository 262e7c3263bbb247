#pragma once

#include "gather/part_joiner.h"

#include <QString>
#include <functional>

class ManifestLines;
class TextTable;
class UserPrompt;

// How a rebuild ended. Only Extracted means the file is whole.
enum class RebuildOutcome {
    Extracted,  // CRC matched: "Extracted ... successfully!" shown, folder opened
    CrcError,   // joined in full, CRC differs: "CRC Error on ..." shown
    Failed      // stopped by a file error (directory, link, missing part, disk full), reported
};

// Rebuild (`btnReBuildClick`): joins the part files of the download table's rows, in
// row order, into work directory + file-name line, and compares the whole file's CRC
// with the file-CRC line as text. For a version-2 manifest the rows are its data parts
// (the first k; recovery rows after them are left out), and the file's SHA-256 must
// match as well ("SHA-256 Error on ..." when only that differs). Every row contributes whatever lies on disk for it;
// its verdict cells are not consulted. `setGauge` receives the completion percentage
// first; `progress` follows the join. A part file that is missing or unreadable stops
// the rebuild with a message naming it, and no file is left under the output's name (an
// earlier one stays as it was): the join goes into a fresh file renamed into place at
// the end. Nothing but the output file is ever written, and never through a link: a
// link where the output, the work or the parts directory should be is refused with a
// message naming it, and a part is never read through one. The busy cursor shows during
// the join only, so the final message is read with the normal cursor.
RebuildOutcome Rebuild(const ManifestLines& mempwq, const QString& savePath, const TextTable& downloadTable,
                       UserPrompt& prompt, const std::function<void(int)>& setGauge = {},
                       const JoinProgress& progress = {});
