#pragma once

#include "common/unique_fd.h"
#include "gather/part_digest.h"

#include <QIODevice>
#include <QString>
#include <cstdint>
#include <memory>

class FileHasher;

class SafeFolder;

// The file a part is downloaded into. It takes the CRC-32 of the bytes as they are
// written, so the check at the end of a download costs nothing however large the part:
// the window never waits for a part to be read back. Writes go straight to the file
// (unbuffered), so a write the file system refuses fails the download at once rather
// than at the close.
//
// It never takes more than the part's size from the manifest: a server that sends more
// cannot fill the disk through a small part. The write that would pass the limit is
// refused whole, and the HTTP client ends the download on a refused write.
//
// Asked for a SHA-256 as well (a part of a version-2 manifest), it has a FileHasher read
// the file right behind its writes on a thread of its own: writing costs nothing more,
// and the digest is ready soon after the last byte.
class PartFile : public QIODevice {
public:
    // `path` names the file in messages.
    explicit PartFile(const QString& path);
    ~PartFile() override;

    // Creates the file under `name` in the parts folder, never through a link planted
    // there (an earlier part file is replaced). `limit`: the most bytes it may take, -1
    // for no limit. `sha256`: hash the bytes as they land (takeHasher()). False with
    // errorString() on failure.
    bool create(const SafeFolder& folder, const QString& name, qint64 limit, bool sha256 = false);
    // Notes the file's size on disk, then closes it.
    void close() override;
    bool isSequential() const override { return true; }

    QString fileName() const { return m_path; }
    qint64 written() const { return m_written; }
    // The CRC-32 of everything written since create().
    uint32_t crc() const { return ~m_register; }
    // The size of the file when it was closed; -1 before, or when it could not be seen.
    qint64 closedSize() const { return m_closedSize; }
    // What ended the writing: the errno of a write the file system refused (0 when
    // none), or a server sending more than the limit.
    int writeError() const { return m_writeError; }
    bool overLimit() const { return m_overLimit; }
    qint64 limit() const { return m_limit; }
    // What the verdict takes of the file once it is closed: its size, and the CRC-32 of
    // the bytes written, the file's own as long as the file holds exactly those bytes.
    PartDigest digest() const { return {m_closedSize, m_closedSize == m_written, crc(), std::nullopt}; }
    // The hasher that has read the file behind the writes, when create() asked for one:
    // its finish() reads what is left and gives the SHA-256. Null otherwise, or once taken.
    std::unique_ptr<FileHasher> takeHasher();

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 len) override;

private:
    QString m_path;
    UniqueFd m_fd;
    qint64 m_limit = -1;
    uint32_t m_register = 0xFFFFFFFFu;
    qint64 m_written = 0;
    qint64 m_closedSize = -1;
    int m_writeError = 0;
    bool m_overLimit = false;
    std::unique_ptr<FileHasher> m_hasher;
};

// The text of a part download ended by its file: "server sent more than the part's N
// bytes", or the system's reason for the refused write; empty when the file refused
// nothing.
QString PartFileFailure(const PartFile& file);
