// parcelwick: the window. Only the first command-line argument is used: a manifest to
// open at start-up.
#include "app/qt_user_prompt.h"
#include "app/tform1.h"
#include "app/tformlargeftp.h"

#include <QApplication>

int main(int argc, char** argv) {
    // The web view's GPU process fails on many X servers without a GPU (Xvfb, remote
    // desktops); software rendering is enough for the browser page.
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    // The web view shares its OpenGL context with the window; Qt needs this before the
    // application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Parcelwick");

    const QStringList arguments = QApplication::arguments();
    QtUserPrompt prompt;
    TForm1 form(prompt, arguments.size() > 1 ? arguments.at(1) : QString());
    prompt.setParent(&form);
    TFormLargeFTP largeFtp(&form);
    form.setLargeFtpWindow(&largeFtp);
    form.show();
    return QApplication::exec();
}
