// Page 2, "Make Parcelwick Files Part 1": choosing the source, sizing and splitting.
#include "app/limit_spin_box.h"
#include "app/tform1.h"
#include "scatter/split_warning.h"
#include "scatter/splitter.h"

#include <QLabel>
#include <QLineEdit>

void TForm1::Button1Click() {
    const QString path = m_prompt.openFile(OpenDialog1);
    // A cancel changes nothing, and what the box already held was looked at when chosen.
    if (path.isEmpty())
        return;
    Edit1->setText(path);
    edtfilename->setText(ProposedBaseName(path));
    showSplitLabels(path);
    {
        BusyCursor busy(m_prompt);
        lbcrc->setText(SourceCrcLabel(path));
    }
    const QString warning = ContentWarning(path);
    if (!warning.isEmpty())
        m_prompt.information(warning);
}

void TForm1::splitnumberChange() { showSplitLabels(Edit1->text()); }

void TForm1::showSplitLabels(const QString& sourcePath) {
    const SplitLabels labels = DescribeSplit(sourcePath, splitnumber->value());
    lbts->setText(labels.totalSize);
    lbps->setText(labels.partSize);
    lblfs->setText(labels.lastSize);
    for (QLabel* l : {lbts, lbps, lblfs})
        l->adjustSize();
}

void TForm1::btnSplitClick() {
    BusyCursor busy(m_prompt);
    SplitRequest request;
    request.sourcePath = Edit1->text();
    request.parts = splitnumber->value();
    request.baseName = edtfilename->text();
    request.extension = edtExt->text();
    request.savePath = dedir->text();
    SplitFile(request, *m_uploadTable);
}
