// parcelwick-cli pwq: split a file, give part i to site ((i - 1) mod sites) and write
// the manifest, as the window's pages 2 to 4 do without the upload.
#include "cli/cli_command.h"
#include "cli/cli_prompt.h"
#include "common/manifest_format.h"
#include "common/save_path.h"
#include "common/text_table.h"
#include "common/user_error.h"
#include "scatter/assignment.h"
#include "scatter/manifest_writer.h"
#include "scatter/site_list.h"
#include "scatter/site_list_table.h"
#include "scatter/splitter.h"
#include "scatter/upload_table.h"

#include <QCommandLineParser>

namespace {

const char Usage[] =
    "usage: parcelwick-cli pwq SOURCE --site URL [--site URL ...] [--parts N] [--name BASE] [--ext EXT]\n"
    "                          [--save-path DIR] [--user TEXT] [--comment TEXT] -o OUT.pwq\n"
    "\n"
    "Splits SOURCE into N parts (default 3) named BASE1.EXT .. BASEN.EXT (default: the\n"
    "source's name without special characters, and \"bin\") in DIR/SOURCENAME.uldir/\n"
    "(default save path: ~/ParcelwickFiles/), assigns part i to the site given by the\n"
    "((i - 1) mod number of sites)-th --site (a web address ending with \"/\"), writes the\n"
    "manifest to OUT.pwq and prints its path. The parts are not uploaded.";

int RunPwq(const QStringList& args) {
    QCommandLineParser parser;
    const QCommandLineOption site("site", "", "URL");
    const QCommandLineOption parts("parts", "", "N", "3");
    const QCommandLineOption name("name", "", "BASE");
    const QCommandLineOption ext("ext", "", "EXT", "bin");
    const QCommandLineOption savePath("save-path", "", "DIR");
    const QCommandLineOption user("user", "", "TEXT");
    const QCommandLineOption comment("comment", "", "TEXT");
    const QCommandLineOption output(QStringList{"o", "output"}, "", "OUT");
    parser.addOptions({site, parts, name, ext, savePath, user, comment, output});
    if (!parser.parse(QStringList{"pwq"} + args)) {
        CliErr("parcelwick-cli pwq: " + parser.errorText());
        return 2;
    }
    bool partsOk = false;
    const int partCount = parser.value(parts).toInt(&partsOk);
    if (parser.positionalArguments().size() != 1 || !parser.isSet(site) || !parser.isSet(output) || !partsOk) {
        CliErr(Usage);
        return 2;
    }
    const QString source = parser.positionalArguments().first();

    SplitRequest request;
    request.sourcePath = source;
    request.parts = partCount;
    request.baseName = parser.isSet(name) ? parser.value(name) : ProposedBaseName(source);
    request.extension = parser.value(ext);
    request.savePath = parser.isSet(savePath) ? parser.value(savePath) : DefaultSavePath();
    if (!request.savePath.endsWith('/'))
        request.savePath += '/';

    TextTable uploads(UploadTableColumns());
    try {
        SplitFile(request, uploads);
    } catch (const UserError& e) {
        CliErr(e.text());
        return 1;
    }

    CliPrompt prompt(CliPrompt::InformationTo::Stderr);
    TextTable sites(SiteListColumns());
    for (const QString& url : parser.values(site)) {
        QStringList cells(SiteColumn::Count);
        cells[SiteColumn::WebSite] = url;
        sites.addRow(cells);
    }
    for (int r = 0; r < uploads.rows(); ++r)
        AssignSiteToRows(uploads, {r}, sites, r % sites.rows(), prompt);

    ManifestLines mempwq;
    MakeManifestLines({source, partCount, parser.value(user), parser.value(comment)}, uploads, mempwq);
    QString error;
    if (!WriteManifestFile(mempwq.lines(), parser.value(output), error)) {
        CliErr(error);
        return 1;
    }
    CliOut(parser.value(output));
    return 0;
}

const CliCommandRegistration registration({"pwq", "split a file and write its manifest (.pwq)", Usage, RunPwq});

}  // namespace
