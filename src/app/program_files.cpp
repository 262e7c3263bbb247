#include "app/program_files.h"

#include <QDir>
#include <QFileInfo>

QString ShippedFilePath(const QString& programFolder, const QString& name) {
    // PW_SHIPPED_FROM_BIN is the install's data folder seen from its program folder
    // ("../share/parcelwick" with the usual layout), so an installed copy finds its files
    // wherever its prefix was put: /usr, /usr/local, a DESTDIR or an unpacked package.
    const QString installed = QDir::cleanPath(programFolder + PW_SHIPPED_FROM_BIN + '/' + name);
    if (QFileInfo(installed).isFile())
        return installed;
    return programFolder + name;
}

QIcon ProgramIcon() {
    // The same PNGs that are installed for the desktop entry, rendered from one SVG.
    QIcon icon;
    for (const char* size : {"48", "256"})
        icon.addFile(QStringLiteral(":/icons/%1/parcelwick.png").arg(size));
    return icon;
}
