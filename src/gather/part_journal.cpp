#include "gather/part_journal.h"

#include "common/write_fully.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A list holds at most MaxRanges lines of a few dozen bytes.
constexpr qint64 MaxJournalBytes = 64 * 1024;

}  // namespace

PartJournal::PartJournal(int folderFd, const QString& partName)
    : m_folder(::fcntl(folderFd, F_DUPFD_CLOEXEC, 0)), m_name(QFile::encodeName(partName + ":ranges")) {}

bool PartJournal::save(const PartRanges& ranges) const {
    if (!valid())
        return false;
    const QByteArray fresh = m_name + ".new";
    // Removed first and made anew, so a link planted under the name is never written
    // through, nor a file elsewhere that a hard link shares.
    (void)::unlinkat(m_folder.get(), fresh.constData(), 0);
    UniqueFd out(::openat(m_folder.get(), fresh.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!out.valid())
        return false;
    const QByteArray text = ranges.text();
    if (WriteFully(out.get(), text.constData(), std::size_t(text.size())) != 0 || out.close() != 0 ||
        ::renameat(m_folder.get(), fresh.constData(), m_folder.get(), m_name.constData()) != 0) {
        (void)::unlinkat(m_folder.get(), fresh.constData(), 0);
        return false;
    }
    return true;
}

void PartJournal::remove() const {
    // A list that is not there needs nothing.
    if (valid())
        (void)::unlinkat(m_folder.get(), m_name.constData(), 0);
}

std::optional<PartRanges> PartJournal::load(qint64 size, qint64 fileSize) const {
    if (!valid())
        return std::nullopt;
    const UniqueFd in(::openat(m_folder.get(), m_name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!in.valid() || ::fstat(in.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > MaxJournalBytes)
        return std::nullopt;
    QByteArray text(qsizetype(info.st_size), '\0');
    qint64 done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(in.get(), text.data() + done, size_t(text.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        done += n;
    }
    return PartRanges::fromText(text, size, fileSize);
}
