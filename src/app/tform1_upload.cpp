// Page 4: Send File and Abort FTP bound to the upload run, and the events of
// the window's FTP client.
#include "app/limit_spin_box.h"
#include "app/tform1.h"
#include "ftp/ftp_client.h"
#include "scatter/upload_driver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

// The items of "FTP over TLS" are in the order of the modes.
static_assert(ftpTlsOff == 0 && ftpTlsWhenOffered == 1 && ftpTlsRequired == 2);

void TForm1::buildUpload() {
    Ftpc1 = new TFtpClient(this);
    Ftpc1->setObjectName("Ftpc1");
    // The other settings (port "ftp", binary, exclusive sharing, a lone LF ends a reply)
    // are the client's own defaults.
    Ftpc1->SetTimeout(30);
    Ftpc1->OnRequestDone = [this](TCustomFtpClient*, TFtpRequest rq, quint16 error) { Ftpc1RequestDone(rq, error); };
    Ftpc1->OnProgress = [this](TCustomFtpClient*, qint64, bool&) { Ftpc1Progress(); };
    Ftpc1->OnStateChange = [this](TCustomFtpClient*) { Ftpc1StateChange(); };
    Ftpc1->OnBgException = [this](TCustomFtpClient*, const std::exception&, bool&) { Ftpc1BgException(); };
    // The settings are read when a run starts and hold for all its sessions.
    m_upload = std::make_unique<UploadDriver>(
        *m_uploadTable, *Ftpc1, m_prompt, [this](const QString& line) { Display(line); },
        [this] {
            UploadSettings settings;
            settings.passive = cbpassiveftp->isChecked();
            settings.tlsMode = TFtpTlsMode(cbftptls->currentIndex());
            settings.sessions = sesitesatonce->value();
            settings.resume = cbresumeupload->isChecked();
            settings.verify = cbcheckweb->isChecked() ? UrlCheckMode::Length : UrlCheckMode::Off;
            return settings;
        });
    // Send File comes back when the run ends.
    m_upload->onRunning = [this](bool running) { Button2->setEnabled(!running); };
}

bool TForm1::ftpAborted() const { return m_upload->aborted(); }

void TForm1::Button2Click() { m_upload->Send(); }

void TForm1::btnAbortFTPClick() { m_upload->Abort(); }

void TForm1::Ftpc1RequestDone(TFtpRequest RqType, quint16 Error) { m_upload->RequestDone(RqType, Error); }

void TForm1::Ftpc1Progress() { Edit2->setText(QString::number(m_upload->Progress())); }

void TForm1::Ftpc1StateChange() { statelabel->setText(QString::number(Ftpc1->State())); }

void TForm1::Ftpc1BgException() { m_upload->BgException(); }
