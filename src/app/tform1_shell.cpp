// Shell actions, the About box and the small handlers of the window's own controls.
#include "app/limit_spin_box.h"
#include "app/tform1.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>

namespace {

const char* const kWebSite = "https://www.parcelwick.example/";
const char* const kEMail = "support@parcelwick.example";
const char* const kProductPage = "https://www.parcelwick.example/pro.html";

}  // namespace

// The desktop decides what opens the target; nothing is reported when nothing does.
void TForm1::RunShell(const QUrl& target) { m_prompt.openUrl(target); }

void TForm1::btnHelpClick() { showHelp(1); }

void TForm1::ParcelwickHelp1Click() { showHelp(1); }

void TForm1::Label14Click() { RunShell(QUrl(kWebSite)); }

void TForm1::Label15Click() { RunShell(QUrl(QString("mailto:") + kEMail)); }

void TForm1::btnBuyNowClick() { RunShell(QUrl(kProductPage)); }

void TForm1::About1Click() {
    m_prompt.information(QString("Parcelwick\n\n"
                                 "Moves one large file through several small web-hosting accounts: "
                                 "split, upload by FTP, gather by HTTP, rebuild.\n\n"
                                 "%1\n%2")
                             .arg(kWebSite, kEMail));
}

void TForm1::imgdiconMouseMove() {
    const int step = static_cast<int>(QRandomGenerator::global()->bounded(11)) - 5;
    imgdicon->move(imgdicon->x() + step, imgdicon->y());
}

// The spin box already turns a typed number above its limit into the limit; the
// handler keeps the rule for values set any other way.
void TForm1::sdlChange() {
    if (sdl->value() > sdl->maximum())
        sdl->setValue(sdl->maximum());
}

// Only editing is unlocked: the values of the boxes are in force either way.
void TForm1::cbenableoptionsClick() {
    const bool enabled = cbenableoptions->isChecked();
    for (QWidget* w : downloadOptionControls())
        w->setEnabled(enabled);
}

QList<QWidget*> TForm1::downloadOptionControls() const {
    return {Label12,  seto,          lbminspeed,    seminspeed, Label13,  seda,
            cbresume, lbconnections, seconnections, lbperhost,  seperhost};
}

void TForm1::dedirBrowseClick() {
    const QString chosen = m_prompt.chooseDirectory("Save Path:", m_programFolder);
    if (chosen.isEmpty())
        return;
    dedir->setText(chosen.endsWith('/') ? chosen : chosen + '/');
}
