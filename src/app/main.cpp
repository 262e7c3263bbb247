// parcelwick: the window. Only the first command-line argument is used: a manifest to
// open at start-up (the desktop entry passes a double-clicked .pwq file this way).
#include "app/program_files.h"
#include "app/qt_user_prompt.h"
#include "app/tform1.h"
#include "app/tformlargeftp.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

namespace {

void describeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        "Parcelwick moves one large file through several small web-hosting accounts.\n"
        "Given a manifest, the window opens it on the \"Extract Parcelwick Files\" page and\n"
        "downloads its parts.\n"
        "\n"
        "Exit status: 0 when the window was closed, 2 for an unknown option.");
    parser.addPositionalArgument("manifest", "A manifest (.pwq) to open and download at start-up.",
                                 "[MANIFEST.pwq]");
    parser.addOption({{"h", "help"}, "Show this help and where the help page and start page are."});
    parser.addOption({{"v", "version"}, "Show the version."});
}

void print(FILE* to, const QString& text) { std::fputs(text.toUtf8().constData(), to); }

// The help names the files the window found, so a broken install shows itself.
int answer(const QCommandLineParser& parser) {
    if (parser.isSet("version")) {
        print(stdout, "parcelwick " PW_VERSION "\n");
        return 0;
    }
    const QString folder = QCoreApplication::applicationDirPath() + '/';
    print(stdout, parser.helpText() + "\nFiles:\n  help page   " + ShippedFilePath(folder, HelpPageName) +
                      "\n  start page  " + ShippedFilePath(folder, StartPageName) + '\n');
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // The web view's GPU process fails on many X servers without a GPU (Xvfb, remote
    // desktops); software rendering is enough for the browser page.
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    // The web view shares its OpenGL context with the window; Qt needs this before the
    // first application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);

    QCommandLineParser parser;
    describeOptions(parser);
    {
        // --help and --version are answered before the window system is opened, so they
        // work without a display. The window system's own options (-platform ...) fail
        // this first reading; the second one below sees the arguments without them.
        QCoreApplication core(argc, argv);
        if (parser.parse(QCoreApplication::arguments()) && (parser.isSet("help") || parser.isSet("version")))
            return answer(parser);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName("Parcelwick");
    QApplication::setApplicationVersion(PW_VERSION);
    // Ties the window to parcelwick.desktop (its name and icon in a Wayland session).
    QGuiApplication::setDesktopFileName("parcelwick");
    QApplication::setWindowIcon(ProgramIcon());

    if (!parser.parse(QApplication::arguments())) {
        print(stderr, "parcelwick: " + parser.errorText() + "\n\n" + parser.helpText());
        return 2;
    }
    if (parser.isSet("help") || parser.isSet("version"))
        return answer(parser);

    QtUserPrompt prompt;
    TForm1 form(prompt, parser.positionalArguments().value(0));
    prompt.setParent(&form);
    TFormLargeFTP largeFtp(&form);
    form.setLargeFtpWindow(&largeFtp);
    form.show();
    return QApplication::exec();
}
