#include "gather/gather_paths.h"

QString LocalPartName(const QString& url) {
    qsizetype cut = -1;
    for (qsizetype i = url.size() - 1; i >= 0; --i) {
        const QChar c = url[i];
        if (c == '/' || c == '\\' || c == ':') {
            cut = i;
            break;
        }
    }
    return url.mid(cut + 1);
}

QString GatherPaths::workDirectory() const { return m_savePath + m_fileName + ".dir/"; }

QString GatherPaths::partsDirectory() const { return workDirectory() + "parts/"; }

QString GatherPaths::partFile(const QString& url) const { return partsDirectory() + LocalPartName(url); }

QString GatherPaths::outputFile() const { return workDirectory() + m_fileName; }

SafeFolder GatherPaths::openPartsFolder(QString& error) const {
    const AnchoredName work = SplitPrefixedPath(m_savePath, m_fileName + ".dir");
    return SafeFolder::Open(work.anchor, {work.name, "parts"}, error);
}

SafeFolder GatherPaths::openWorkFolder(QString& error) const {
    const AnchoredName work = SplitPrefixedPath(m_savePath, m_fileName + ".dir");
    return SafeFolder::Open(work.anchor, {work.name}, error);
}
