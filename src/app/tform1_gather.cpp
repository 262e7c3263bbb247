// Page 1, "Extract Parcelwick Files": the controls of the gather bound to its engine.
#include "app/limit_spin_box.h"
#include "app/table_view_binding.h"
#include "app/tform1.h"
#include "app/trusted_certificates.h"
#include "gather/check_and_fill.h"
#include "gather/gather_engine.h"
#include "net/tls_configuration.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>

void TForm1::buildGather() {
    // The settings are read at every step, so a change in the window counts at once.
    m_gather = std::make_unique<GatherEngine>(*m_downloadTable, mempwq, m_prompt, [this] {
        GatherSettings s{dedir->text(),          sdl->value(),  cbonhd->isChecked(),     cbcrcretry->isChecked(),
                         seda->value(),          seto->value(), cbautomerge->isChecked(), seminspeed->value()};
        s.resume = cbresume->isChecked();
        s.connectionsPerPart = seconnections->value();
        s.perHost = seperhost->value();
        return s;
    });
    m_gather->onGauge = [this](int percent) { Gauge1->setValue(percent); };
    // What the recovery parts did goes to the log pane, the window's one log.
    m_gather->onNote = [this](const QString& line) { Display(line); };
    StallTimer = m_gather->stallTimer();
    // The engine asks the user about a certificate its downloads refuse (through the
    // prompt); what was answered "Always" before is trusted from the start.
    KeepTrustedCertificates(TlsConfiguration::Shared());
}

bool TForm1::stopFlag() const { return m_gather->stopFlag(); }

void TForm1::btnLoadpwqClick() {
    m_gather->setStopFlag(false);
    const QString path = ChooseManifestPath(m_firstArgument, m_commandLineFlag, m_prompt);
    if (path.isEmpty())
        return;
    m_manifestPath = path;
    m_gather->OpenManifestFile(path);
}

void TForm1::btnldpwq2Click() { m_gather->CheckAndFill(); }

void TForm1::btnDownloadClick() { m_gather->Download(); }

void TForm1::btnAbortDLClick() { m_gather->Abort(); }

void TForm1::btndlresumeClick() { m_gather->Resume(); }

void TForm1::ReStart1Click() { m_gather->ReStart(SelectedRow(lvdl)); }

void TForm1::StallTimerTimer() { m_gather->StallTick(); }

void TForm1::btnReBuildClick() { m_gather->Rebuild(); }
