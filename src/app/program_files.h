#pragma once

#include <QIcon>
#include <QString>

// What comes with the program besides its code: the help page and the browser's start
// page, which an installed copy keeps in ../share/parcelwick/ next to its bin/ folder
// and the build folder keeps beside the program, and the icon, which is built in.

inline constexpr char HelpPageName[] = "parcelwick-help.html";
inline constexpr char StartPageName[] = "parcelwick-start.html";

// The path of a shipped file for the program in programFolder (with a trailing "/"):
// the installed place when the file is there, else beside the program, which is also
// the answer when it is in neither place.
QString ShippedFilePath(const QString& programFolder, const QString& name);

// The picture of the desktop entry, at every size it is installed in.
QIcon ProgramIcon();
