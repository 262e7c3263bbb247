#include "common/safe_folder.h"

#include "common/system_error.h"

#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray Native(const QString& name) { return QFile::encodeName(name); }

// mkdir -p of the anchor; 0 or the errno of the first folder that could not be made.
int MakeAnchor(const QString& anchor) {
    const QByteArray path = Native(anchor);
    for (qsizetype end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/')
            continue;
        if (::mkdir(path.left(end).constData(), 0777) != 0 && errno != EEXIST)
            return errno;
    }
    return 0;
}

bool IsLink(int folder, const QByteArray& name) {
    struct stat info {};
    return ::fstatat(folder, name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
}

}  // namespace

QString LinkRefusal(const QString& path, bool writing) {
    return path + " is a symbolic link; Parcelwick does not " + (writing ? "write" : "read") + " through links";
}

AnchoredName SplitPrefixedPath(const QString& prefix, const QString& name) {
    const qsizetype cut = prefix.lastIndexOf('/') + 1;
    return {prefix.left(cut), prefix.mid(cut) + name};
}

SafeFolder SafeFolder::Open(const QString& anchor, const QStringList& names, QString& error) {
    QString whole = anchor;
    for (const QString& name : names)
        whole += name + '/';
    SafeFolder folder;
    const auto cannot = [&](int reason) {
        error = SystemError("Cannot create ", whole, reason);
        return SafeFolder();
    };
    if (const int reason = anchor.isEmpty() ? 0 : MakeAnchor(anchor))
        return cannot(reason);
    folder.m_fd = UniqueFd(::open(anchor.isEmpty() ? "." : Native(anchor).constData(),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid())
        return cannot(errno);
    folder.m_path = anchor.isEmpty() || anchor.endsWith('/') ? anchor : anchor + '/';
    for (const QString& name : names) {
        const QByteArray native = Native(name);
        if (::mkdirat(folder.fd(), native.constData(), 0777) != 0 && errno != EEXIST)
            return cannot(errno);
        UniqueFd inner(::openat(folder.fd(), native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        const int reason = errno;
        folder.m_path += name + '/';
        if (!inner.valid()) {
            if (IsLink(folder.fd(), native)) {
                error = LinkRefusal(folder.m_path);
                return SafeFolder();
            }
            return cannot(reason);
        }
        folder.m_fd = std::move(inner);
    }
    return folder;
}

QString SafeFolder::refusalToReplace(const QString& name) const {
    struct stat info {};
    if (::fstatat(fd(), Native(name).constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? QString() : SystemError("Cannot create ", m_path + name, errno);
    if (S_ISLNK(info.st_mode))
        return LinkRefusal(m_path + name);
    if (S_ISDIR(info.st_mode))
        return SystemError("Cannot create ", m_path + name, EISDIR);
    if (!S_ISREG(info.st_mode))
        return "Cannot create " + m_path + name + ": it is not a regular file";
    return QString();
}

UniqueFd SafeFolder::createFile(const QString& name, QString& error, bool readable) const {
    error = refusalToReplace(name);
    if (!error.isEmpty())
        return UniqueFd();
    const QByteArray native = Native(name);
    if (::unlinkat(fd(), native.constData(), 0) != 0 && errno != ENOENT) {
        error = SystemError("Cannot create ", m_path + name, errno);
        return UniqueFd();
    }
    UniqueFd file(::openat(fd(), native.constData(),
                           (readable ? O_RDWR : O_WRONLY) | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666));
    if (!file.valid()) {
        // Something took the name between the removal and the creation.
        const int reason = errno;
        error = refusalToReplace(name);
        if (error.isEmpty() || reason != EEXIST)
            error = SystemError("Cannot create ", m_path + name, reason);
    }
    return file;
}

UniqueFd SafeFolder::createTemporary(const QString& prefix, QString& name, int& error) const {
    static const char Letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = prefix;
        for (int i = 0; i < 8; ++i)
            name += QLatin1Char(Letters[QRandomGenerator::global()->bounded(int(sizeof Letters - 1))]);
        UniqueFd file(::openat(fd(), Native(name).constData(),
                               O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666));
        if (file.valid() || errno != EEXIST) {
            error = file.valid() ? 0 : errno;
            return file;
        }
    }
    error = EEXIST;
    return UniqueFd();
}

UniqueFd SafeFolder::openForReading(const QString& name, QString& error, const QString& what) const {
    const QString path = m_path + name;
    // O_NONBLOCK: a FIFO must not hang the reader waiting for a writer.
    UniqueFd file(::openat(fd(), Native(name).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file.valid()) {
        error = errno == ELOOP ? LinkRefusal(path, false) : SystemError("Cannot open " + what, path, errno);
        return file;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        error = SystemError("Cannot read " + what, path, errno);
        return UniqueFd();
    }
    // A directory opens without complaint but cannot be read.
    if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? SystemError("Cannot read " + what, path, EISDIR)
                                      : "Cannot read " + what + path + ": not a regular file";
        return UniqueFd();
    }
    ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
    return file;
}

bool SafeFolder::rename(const QString& from, const QString& to, int& error) const {
    if (::renameat(fd(), Native(from).constData(), fd(), Native(to).constData()) == 0)
        return true;
    error = errno;
    return false;
}

void SafeFolder::remove(const QString& name) const {
    // Only ever a file of our own; one that is already gone needs nothing.
    (void)::unlinkat(fd(), Native(name).constData(), 0);
}
