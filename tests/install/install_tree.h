#pragma once

#include "support/cli_runner.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Every file an install of Parcelwick holds, relative to its prefix; a .deb holds the
// same under usr/.
extern const QStringList InstalledFiles;

// The text of a file; empty when it cannot be read.
QByteArray ReadFile(const QString& path);
void WriteFile(const QString& path, const QByteArray& bytes);

// The build these tests belong to, installed with "cmake --install" for the prefix /usr
// into a temporary DESTDIR, as a package build stages it.
class InstallTest : public ::testing::Test {
protected:
    void SetUp() override;

    QString root() const { return m_dir.filePath("root"); }
    // The prefix inside the DESTDIR, or a path under it.
    QString installed(const QString& relative = QString()) const;
    QString temp(const QString& name) const { return m_dir.filePath(name); }
    // Runs a program with the installed bin/ first on PATH, HOME in the temporary
    // folder, and the XDG folders pointing at the install (and at the system's, after
    // it), as a desktop session that has the package installed runs it.
    CliRun runInstalled(const QString& program, const QStringList& args, const QStringList& environment = {}) const;

    QTemporaryDir m_dir;
};
