#pragma once

#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <functional>
#include <memory>
#include <sys/stat.h>

class SafeFolder;

// The source of a split, open read-only and read once from start to end: each part
// is the next slice, copied through one buffer whose bytes also feed the part's CRC,
// so no byte is read twice. Every failure is a UserError naming the file and the
// file system's reason.
class SplitReader {
public:
    // Opens the source; refuses what is not an ordinary file (see FileSizeOf).
    explicit SplitReader(const QString& sourcePath);
    ~SplitReader();
    SplitReader(const SplitReader&) = delete;
    SplitReader& operator=(const SplitReader&) = delete;

    // The source's descriptor, for a reader of its own (the split encoder reads by offset).
    int fd() const { return m_fd; }
    // Size of the source when it was opened.
    qint64 size() const { return static_cast<qint64>(m_info.st_size); }

    // True when the path names the source itself (the same file under any name):
    // writing a part there would destroy the source.
    bool isSourceFile(const QString& path) const;

    // Creates the part file in the upload folder (an earlier one is replaced, a link in
    // its place refused) and copies the next `size` bytes of the source into it. Returns
    // the part's CRC-32. `copied`, when given, hears after every block how many bytes of
    // the source have been copied so far.
    uint32_t copyNextPart(const SafeFolder& folder, const QString& partName, qint64 size,
                          const std::function<void(qint64 copied)>& copied = {});

    // CRC-32 of every byte copied so far: after the last part, the whole source's as
    // the parts hold it, with no second read of the file.
    uint32_t copiedCrc() const { return ~m_copiedCrc; }

private:
    void writeAll(int fd, const QString& partPath, const char* data, qint64 size);

    QString m_path;
    int m_fd = -1;
    qint64 m_copied = 0;
    uint32_t m_copiedCrc = 0xFFFFFFFFu;
    struct stat m_info {};
    std::unique_ptr<char[]> m_buffer;
};
