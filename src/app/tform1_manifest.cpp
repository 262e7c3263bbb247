// Page 4's "Make PWQ" and page 3's hidden "Write PWQ": the manifest of the upload table.
#include "app/limit_spin_box.h"
#include "app/tform1.h"
#include "scatter/manifest_writer.h"

#include <QLineEdit>

void TForm1::btnMainClick() {
    MakeManifestLines({Edit1->text(), splitnumber->value(), edtfinusername->text(), edtComment->text()},
                      *m_uploadTable, mempwq);
    btnwritepwqClick();
}

void TForm1::btnwritepwqClick() { WritePwq(mempwq, edtfilename->text(), m_prompt); }
