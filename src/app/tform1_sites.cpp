// Page 3 (the site list) and the upload table's popup menu that hands its sites out.
#include "app/table_view_binding.h"
#include "app/tform1.h"
#include "common/text_table.h"
#include "scatter/assignment.h"
#include "scatter/site_list.h"
#include "scatter/site_list_file.h"

#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTreeView>

void TForm1::btnAddFTPInfoClick() {
    AddSite(*m_siteList, {edtftpsite->text(), edtusername->text(), edtpassword->text(), edtWebSite->text()},
            m_prompt);
    rebuildSiteEntries();
}

void TForm1::lvftpinfoDblClick() {
    RemoveSite(*m_siteList, SelectedRow(lvftpinfo), m_prompt);
    rebuildSiteEntries();
}

void TForm1::btnSaveftplistClick() { SaveSiteListDialog(*m_siteList, m_prompt); }

// The entries are rebuilt even after a cancel or a failed load: they must always
// follow the list as it stands.
void TForm1::btnloadftplistClick() {
    LoadSiteListDialog(*m_siteList, m_prompt);
    rebuildSiteEntries();
}

bool TForm1::lvftpinfoDragOver(const QObject* source) const { return source != nullptr && source == lvfiles; }

void TForm1::lvftpinfoDragDrop() { SiteListDrop(SelectedRow(lvftpinfo), m_prompt); }

void TForm1::siteEntryClick(int entry) {
    AssignSiteToRows(*m_uploadTable, SelectedRows(lvfiles), *m_siteList, entry, m_prompt);
}

void TForm1::DoNotUpLoad1Click() { MarkDoNotUpload(*m_uploadTable, SelectedRows(lvfiles)); }

// The first ten entries keep the names m1..m5 and None1..None5 whether or not a site
// stands behind them; every site past the tenth gets an entry of its own.
void TForm1::rebuildSiteEntries() {
    PopupMenu1->clear();
    const QStringList captions = SiteEntryCaptions(*m_siteList);
    for (int i = 0; i < captions.size(); ++i) {
        QAction* action = PopupMenu1->addAction(MenuItemText(captions[i]));
        if (i < FixedSiteEntries)
            action->setObjectName(i < 5 ? QString("m%1").arg(i + 1) : QString("None%1").arg(i - 4));
        connect(action, &QAction::triggered, this, [this, i] { guard([this, i] { siteEntryClick(i); }); });
    }
    QAction* doNotUpload = PopupMenu1->addAction(MenuItemText(DoNotUploadCaption));
    doNotUpload->setObjectName("DoNotUpLoad1");
    connect(doNotUpload, &QAction::triggered, this, guarded(&TForm1::DoNotUpLoad1Click));
}

void TForm1::connectDragAndDrop() {
    lvfiles->setDragEnabled(true);
    lvfiles->setDragDropMode(QAbstractItemView::DragOnly);
    lvftpinfo->setAcceptDrops(true);
    lvftpinfo->viewport()->setAcceptDrops(true);
}

// Double-clicks and drops on the site list. Its own drop handling would insert the rows
// into its model; the window decides instead. Returns true for an event it consumed.
bool TForm1::siteListEvent(QObject* watched, QEvent* event) {
    if (watched != lvftpinfo->viewport())
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonDblClick:
        guard([this] { lvftpinfoDblClick(); });
        return false;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (lvftpinfoDragOver(drag->source()))
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (lvftpinfoDragOver(drop->source())) {
            drop->acceptProposedAction();
            guard([this] { lvftpinfoDragDrop(); });
        } else {
            drop->ignore();
        }
        return true;
    }
    default:
        return false;
    }
}
