#pragma once

#include <QString>
#include <QStringList>

class THttpClient;

// The lines of the manifest a command was given: a file, or an http:// or https:// URL
// fetched like a clicked manifest link, each of its waits bounded by timeoutSeconds.
// False once the reason is on standard error (after the refused certificates, when the
// server's was refused); `lines` is then left as it was. The lines are not checked here.
bool LoadCliManifest(const QString& source, THttpClient& client, int timeoutSeconds, QStringList& lines);
