#include "cli/manifest_source.h"

#include "cli/cli_command.h"
#include "cli/tls_options.h"
#include "common/text_log.h"
#include "common/user_error.h"
#include "gather/manifest_fetch.h"
#include "gather/manifest_text.h"
#include "http/http_client.h"
#include "net/tls_error.h"

bool LoadCliManifest(const QString& source, THttpClient& client, int timeoutSeconds, QStringList& lines) {
    if (source.startsWith("http://", Qt::CaseInsensitive) || source.startsWith("https://", Qt::CaseInsensitive)) {
        try {
            TextLog fetched;
            lines = FetchManifestLines(client, source, fetched, timeoutSeconds);
            return true;
        } catch (const UserError& e) {
            if (client.RequestDoneError() == TLS_ERR_CERTIFICATE)
                ShowRefusedCertificates();
            CliErr("Cannot fetch " + source + ": " + e.text());
            return false;
        }
    }
    QString error;
    if (ReadManifestFile(source, lines, error))
        return true;
    CliErr(error);
    return false;
}
