// The FTP log pane of page 4 and its large window.
#include "app/log_pane.h"
#include "app/tform1.h"
#include "app/tformlargeftp.h"
#include "common/text_log.h"

void TForm1::Display(const QString& msg) { m_ftpLog->append(msg); }

void TForm1::Clear1Click() { m_ftpLog->clear(); }

// The large window gets a copy: lines logged while it is open show the next time.
void TForm1::OpeninLargeWindow1Click() {
    if (!m_largeFtpWindow)
        m_largeFtpWindow = new TFormLargeFTP(this);
    ShowLines(m_largeFtpWindow->relargeftp(), m_ftpLog->lines());
    m_largeFtpWindow->exec();
}
