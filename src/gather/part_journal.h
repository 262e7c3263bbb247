#pragma once

#include "common/unique_fd.h"
#include "gather/part_ranges.h"

#include <QString>
#include <optional>

// Where a part downloaded in ranges keeps the list of its ranges while its file has
// gaps, so that a gather run again (after the program was stopped, even killed) fetches
// only what is missing: beside the part file, under the part's name followed by
// ":ranges" (a part's local name never holds a ":", so no part is ever taken for a list).
// A new list is written under another name and renamed into place, and the counts are
// written after the bytes they count: whenever the program stops, the list on disk
// claims no byte the file lacks.
class PartJournal {
public:
    PartJournal() = default;
    // `folderFd`: the parts folder, duplicated so the journal outlives the caller's.
    PartJournal(int folderFd, const QString& partName);

    bool valid() const { return m_folder.valid(); }
    // False when the list could not be written.
    bool save(const PartRanges& ranges) const;
    void remove() const;
    // The list for a part of `size` bytes whose file holds `fileSize`; nothing when
    // there is none or it does not fit the file.
    std::optional<PartRanges> load(qint64 size, qint64 fileSize) const;

private:
    UniqueFd m_folder;
    QByteArray m_name;
};
