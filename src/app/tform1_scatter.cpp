// Page 2, "Make Parcelwick Files Part 1": choosing the source, sizing and splitting.
#include "app/limit_spin_box.h"
#include "app/tform1.h"
#include "common/text_table.h"
#include "common/user_error.h"
#include "scatter/split_coded.h"
#include "scatter/split_warning.h"
#include "scatter/splitter.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

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
    if (m_codedSplit)
        return;
    SplitRequest request;
    request.sourcePath = Edit1->text();
    request.parts = splitnumber->value();
    request.baseName = edtfilename->text();
    request.extension = edtExt->text();
    request.savePath = dedir->text();
    request.recoveryParts = serecovery->value();
    // Recovery parts go with a version-2 manifest, which holds every part's SHA-256.
    request.sha256 = request.recoveryParts > 0;
    m_lastSplit.reset();
    if (!request.coded()) {
        BusyCursor busy(m_prompt);
        SplitFile(request, *m_uploadTable);
        return;
    }
    std::unique_ptr<CodedSplit> split;
    {
        // Refused, or a part file that cannot be created: reported before anything runs.
        BusyCursor busy(m_prompt);
        split = std::make_unique<CodedSplit>(request);
    }
    m_uploadTable->clear();
    startCodedSplit(std::move(split));
}

// The split encoder keeps both cores busy for about a second per GiB: it runs on a
// thread of its own and reports back by queued calls, so the window stays responsive.
// The busy cursor stays on until the end, as for the plain split.
void TForm1::startCodedSplit(std::unique_ptr<CodedSplit> split) {
    m_codedSplit = std::move(split);
    m_prompt.setBusy(true);
    btnSplit->setEnabled(false);
    pbSplit->setValue(0);
    pbSplit->show();
    CodedSplit* running = m_codedSplit.get();
    m_splitThread = std::thread([this, running] {
        int shown = -1;
        QString failure;
        try {
            running->run([this, &shown](qint64 done, qint64 total, int) {
                const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 100;
                if (percent == shown)
                    return;
                shown = percent;
                QMetaObject::invokeMethod(pbSplit, [this, percent] { pbSplit->setValue(percent); },
                                          Qt::QueuedConnection);
            });
        } catch (const UserError& error) {
            failure = error.text();
        } catch (const std::exception& error) {
            failure = QString::fromLocal8Bit(error.what());
        }
        QMetaObject::invokeMethod(this, [this, failure] { finishCodedSplit(failure); }, Qt::QueuedConnection);
    });
}

void TForm1::finishCodedSplit(const QString& failure) {
    m_splitThread.join();
    const std::unique_ptr<CodedSplit> split = std::move(m_codedSplit);
    pbSplit->hide();
    btnSplit->setEnabled(true);
    m_prompt.setBusy(false);
    if (!failure.isEmpty()) {
        reportFailure(UserError(failure));
        return;
    }
    split->fillTable(*m_uploadTable);
    m_lastSplit = split->outcome();
}

// The window going away ends a split still running; its parts stay as far as written.
void TForm1::stopCodedSplit() {
    if (!m_splitThread.joinable())
        return;
    m_codedSplit->cancel();
    m_splitThread.join();
    m_prompt.setBusy(false);
}
