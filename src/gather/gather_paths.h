#pragma once

#include "common/safe_folder.h"

#include <QString>

// Where a gather puts its files. The save path is a plain prefix (the directory chooser
// returns it with a trailing "/"): "/x" with big.iso gives "/xbig.iso.dir/", beside /x,
// not inside it. Each path is derived afresh from the save path and the manifest's
// file-name line whenever it is needed.

// The part's file name on this side: the URL's text after its last "/", "\" or ":".
// Empty for a URL that ends in "/" (such a manifest is refused before use).
QString LocalPartName(const QString& url);

class GatherPaths {
public:
    GatherPaths(const QString& savePath, const QString& fileNameLine)
        : m_savePath(savePath), m_fileName(fileNameLine) {}

    // save path + file-name line + ".dir/"
    QString workDirectory() const;
    // work directory + "parts/"
    QString partsDirectory() const;
    // parts directory + local part name of the URL
    QString partFile(const QString& url) const;
    // work directory + file-name line: the rebuilt file
    QString outputFile() const;

    // The parts directory and the work directory, created when missing, opened so that
    // nothing is ever written through a link in their place (the folder the save path
    // ends in is the anchor). Invalid on failure, with the message in `error`; a folder
    // that cannot be created is named as the parts directory, as the pass and the
    // rebuild report it.
    SafeFolder openPartsFolder(QString& error) const;
    SafeFolder openWorkFolder(QString& error) const;

private:
    QString m_savePath;
    QString m_fileName;
};
