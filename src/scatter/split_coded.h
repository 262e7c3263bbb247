#pragma once

#include "scatter/splitter.h"

#include <QString>

#include <memory>

class TextTable;

// A coded split (SplitRequest::coded): the data parts, their CRC-32 and SHA-256, the
// whole source's CRC-32 and SHA-256 and the recovery parts, from one read of the source
// by the split encoder, in bounded memory.
//
// In three steps, so that the long one can leave the thread that owns the upload table:
// the constructor refuses what SplitFile refuses and creates every part file (data parts
// open for reading too, since the coding reads them back); run() does the work, on any
// thread, touching no table; fillTable() then writes the rows. Everything fails with a
// UserError naming the file and the system's reason; part files already written stay.
class CodedSplit {
public:
    explicit CodedSplit(const SplitRequest& request);
    ~CodedSplit();
    CodedSplit(const CodedSplit&) = delete;
    CodedSplit& operator=(const CodedSplit&) = delete;

    // Blocks until the split ends. `progress` is called on the same thread: source bytes
    // and then recovery bytes done, of the source's size + m x the part size, with the
    // part (1..k + m) being written.
    void run(const SplitProgress& progress = {});
    // From any thread: run() ends soon after with "The split of ... was cancelled."
    void cancel();

    // After a run that succeeded: empties the upload table and gives it one row per data
    // part and then one per recovery part; outcome() has their SHA-256 when the split is
    // strong.
    void fillTable(TextTable& uploadTable) const;
    SplitOutcome outcome() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};
