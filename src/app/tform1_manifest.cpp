// Page 4's "Make PWQ" and page 3's hidden "Write PWQ": the manifest of the upload table.
#include "app/limit_spin_box.h"
#include "app/tform1.h"
#include "scatter/manifest_writer.h"

#include <QLineEdit>

void TForm1::btnMainClick() {
    ManifestInputs inputs{Edit1->text(), splitnumber->value(), edtfinusername->text(), edtComment->text()};
    // A version-2 manifest takes the whole file's CRC and SHA-256 from the split that
    // made its rows, with that split's file name; version 1 reads the file in the box.
    if (m_lastSplit && m_lastSplit->fileSha256)
        inputs.strongSplit = &*m_lastSplit;
    MakeManifestLines(inputs, *m_uploadTable, mempwq);
    btnwritepwqClick();
}

void TForm1::btnwritepwqClick() { WritePwq(mempwq, edtfilename->text(), m_prompt); }
