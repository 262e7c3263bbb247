#pragma once

#include "common/unique_fd.h"

#include <QString>
#include <QStringList>

// The folders that a gather, a rebuild and a split write into, and the files in them,
// opened so that a symbolic link standing in their place is never followed: whoever can
// plant a link in the save folder must not lead a write (nor a read that is copied into
// the rebuilt file) anywhere else.
//
// The folder the user chose is the anchor and is taken as it is, links and all (a save
// path on another disk behind a link is the user's own choice). Every folder below it
// is opened relative to its parent's descriptor with O_NOFOLLOW, and every file relative
// to its folder's descriptor, so a link swapped in after a check is not followed either:
// O_NOFOLLOW alone would only cover the last component of a path.
class SafeFolder {
public:
    SafeFolder() = default;

    // The folder anchor + names[0] + "/" + names[1] + "/" ..., each of `names` a plain
    // name created when missing. A missing anchor is created with its parents; an empty
    // anchor is the working directory. Invalid on failure, and `error` says why:
    // "Cannot create " + the whole path + ": " + the system's reason, or the path of the
    // folder in the way + " is a symbolic link; Parcelwick does not write through links".
    static SafeFolder Open(const QString& anchor, const QStringList& names, QString& error);

    bool valid() const { return m_fd.valid(); }
    int fd() const { return m_fd.get(); }
    // The folder's path, ending in "/", for messages.
    const QString& path() const { return m_path; }

    // Empty when a new file may take the name (it is free, or holds a regular file);
    // else why not: a symbolic link ("PATH is a symbolic link; ..."), or "Cannot create
    // PATH: " + the reason (a folder, a device, a name too long).
    QString refusalToReplace(const QString& name) const;
    // A new empty regular file under the name, open for writing. An earlier regular file
    // of that name is removed first and the new one created exclusively, so neither a
    // link planted meanwhile nor a hard link to a file elsewhere is ever written
    // through; whatever refusalToReplace refuses stays as it is. Invalid on failure, with
    // `error`. `readable`: open for reading too (a part read back while it is coded).
    UniqueFd createFile(const QString& name, QString& error, bool readable = false) const;
    // A new file under a fresh name (`prefix` and random letters), open for reading and
    // writing, for a result that is renamed into place once it is complete. Invalid on
    // failure, with the errno in `error`.
    UniqueFd createTemporary(const QString& prefix, QString& name, int& error) const;
    // The regular file under the name, open for reading, never through a link. Invalid
    // on failure, with `error`: "Cannot open " + what + PATH + ": " + reason, "Cannot
    // read " + what + PATH + ": " + "Is a directory" or "not a regular file", or "PATH is
    // a symbolic link; Parcelwick does not read through links".
    UniqueFd openForReading(const QString& name, QString& error, const QString& what = QString()) const;
    // renameat within the folder; false with the errno in `error`.
    bool rename(const QString& from, const QString& to, int& error) const;
    void remove(const QString& name) const;

private:
    UniqueFd m_fd;
    QString m_path;
};

// PATH + " is a symbolic link; Parcelwick does not write through links" ("read" when
// not writing).
QString LinkRefusal(const QString& path, bool writing = true);

// A folder named by a plain prefix and a name (the save path and "big.iso.dir"): the
// folder the prefix ends in, and the name inside it. "/x/" + "a.dir" gives "/x/" and
// "a.dir"; "/x/pre" + "a.dir" gives "/x/" and "prea.dir"; "pre" + "a.dir" gives "" (the
// working directory) and "prea.dir".
struct AnchoredName {
    QString anchor;
    QString name;
};
AnchoredName SplitPrefixedPath(const QString& prefix, const QString& name);
