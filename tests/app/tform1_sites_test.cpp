#include "common/text_table.h"
#include "scatter/site_list_table.h"
#include "scatter/upload_table.h"
#include "window_fixture.h"

#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <sys/stat.h>

namespace {

const QString kNoHttp = "Warning!  Your website address does not start with \"http://\"! Double-click it to remove it "
                        "from the list.";
const QString kNoSlash = "Warning!  Your website address does not end with a slash \"/\"! Double-click it to remove it "
                         "from the list.";
const QString kFtpScheme = "Warning!  Your ftp address should not start with \"ftp://\"! Double-click it to remove it "
                           "from the list.";

class SitesWindowTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        open();
    }
    void addSite(const QString& ftp, const QString& user, const QString& password, const QString& web) {
        form().edtftpsite->setText(ftp);
        form().edtusername->setText(user);
        form().edtpassword->setText(password);
        form().edtWebSite->setText(web);
        form().btnAddFTPInfo->click();
    }
    QStringList menuTexts() {
        QStringList texts;
        for (QAction* a : form().PopupMenu1->actions())
            texts << a->text();
        return texts;
    }
    // Splits a 10-byte file into three parts, filling the upload table.
    void split() {
        QFile source(m_dir.filePath("movie.avi"));
        ASSERT_TRUE(source.open(QIODevice::WriteOnly));
        source.write("1234567890");
        source.close();
        form().Edit1->setText(source.fileName());
        form().edtfilename->setText("movie");
        form().dedir->setText(m_dir.path() + "/save/");
        form().btnSplit->click();
        ASSERT_EQ(form().uploadTable()->rows(), 3);
    }
    void selectRows(QTreeView* view, const QList<int>& rows) {
        view->clearSelection();
        for (int r : rows)
            view->selectionModel()->select(view->model()->index(r, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void doubleClick(QTreeView* view, int row) {
        const QPoint at = row < 0 ? QPoint(5, view->viewport()->height() - 5)
                                  : view->visualRect(view->model()->index(row, 0)).center();
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }
    QTemporaryDir m_dir;
};

TEST_F(SitesWindowTest, AddToFtpWarnsInOrderAndAddsTheSiteAsTyped) {
    struct Row {
        QString ftp, web;
        QStringList warnings;
    };
    const Row rows[] = {
        {"ftp.a.example", "http://www.a.example/f/", {}},
        {"ftp.b.example", "HTTP://www.b.example/", {}},
        {"ftp://ftp.c.example", "www.c.example", {kNoHttp, kNoSlash, kFtpScheme}},
        {"FTP:d", "http://d.example", {kNoSlash, kFtpScheme}},
        {" ftp.e.example ", "https://e.example/", {kNoHttp}},
    };
    for (const Row& row : rows) {
        m_prompt.forget();
        const int before = form().siteList()->rows();
        addSite(row.ftp, "user", "pass", row.web);
        EXPECT_EQ(m_prompt.messages(), row.warnings) << row.web.toStdString();
        ASSERT_EQ(form().siteList()->rows(), before + 1);
        EXPECT_EQ(form().siteList()->rowCells(before), QStringList({row.ftp, "user", "pass", row.web}));
    }
    EXPECT_EQ(form().lvftpinfo->model()->rowCount(), 5);
}

TEST_F(SitesWindowTest, DoubleClickRemovesTheSelectedSiteOrSaysNoneIsSelected) {
    addSite("ftp.a.example", "a", "pa", "http://a.example/");
    addSite("ftp.b.example", "b", "pb", "http://b.example/");
    form().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form()));
    form().PageControl1->setCurrentIndex(2);

    selectRows(form().lvftpinfo, {0});
    doubleClick(form().lvftpinfo, 0);
    ASSERT_EQ(form().siteList()->rows(), 1);
    EXPECT_EQ(form().siteList()->cell(0, SiteColumn::FtpSite), "ftp.b.example");
    EXPECT_EQ(menuTexts().first(), "http://b.example/") << "the menu follows the removal";

    form().lvftpinfo->clearSelection();
    doubleClick(form().lvftpinfo, -1);
    EXPECT_EQ(m_prompt.messages(), QStringList({"Could not delete. No item selected"}));
    EXPECT_EQ(form().siteList()->rows(), 1);
}

TEST_F(SitesWindowTest, SavedListLoadsBackThroughTheDialogsAndStaysPrivate) {
    addSite("ftp.a.example", "a", "p&a", "http://a.example/x&y/");
    addSite("ftp.b.example", "b", "pb", "http://b.example/");
    const QString path = m_dir.filePath("ftplist.txt");
    m_prompt.answerSaveFile(path);
    form().btnSaveftplist->click();
    ASSERT_EQ(m_prompt.shown().size(), 1);
    EXPECT_EQ(m_prompt.shown()[0].kind, ScriptedPrompt::Kind::SaveFile);
    EXPECT_EQ(m_prompt.shown()[0].text, "Save FTP List");
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600);

    open();  // a fresh window
    m_prompt.forget();
    m_prompt.answerOpenFile(path);
    form().btnloadftplist->click();
    ASSERT_EQ(m_prompt.shown().size(), 1);
    EXPECT_EQ(m_prompt.shown()[0].kind, ScriptedPrompt::Kind::OpenFile);
    EXPECT_EQ(m_prompt.shown()[0].text, "Load FTP List");
    ASSERT_EQ(form().siteList()->rows(), 2);
    EXPECT_EQ(form().siteList()->rowCells(0), QStringList({"ftp.a.example", "a", "p&a", "http://a.example/x&y/"}));
    EXPECT_EQ(form().siteList()->rowCells(1), QStringList({"ftp.b.example", "b", "pb", "http://b.example/"}));
    EXPECT_EQ(menuTexts().mid(0, 3), QStringList({"http://a.example/x&&y/", "http://b.example/", "None"}));

    // A cancelled load keeps the list and its entries.
    form().btnloadftplist->click();
    EXPECT_EQ(form().siteList()->rows(), 2);
    EXPECT_EQ(menuTexts().first(), "http://a.example/x&&y/");
}

// The entries always show the list as it stands, so each one assigns the site it shows:
// after a removal the later sites move up and the freed entry reads "None" again, and a
// shorter list loaded over a longer one leaves no caption of a site that is gone.
TEST_F(SitesWindowTest, PopupEntriesFollowRemovalAndAShorterLoadedList) {
    addSite("ftp.a.example", "ua", "pa", "http://a.example/");
    addSite("ftp.b.example", "ub", "pb", "http://b.example/");
    addSite("ftp.c.example", "uc", "pc", "http://c.example/");
    split();
    TextTable& uploads = *form().uploadTable();

    selectRows(form().lvftpinfo, {1});
    form().lvftpinfoDblClick();
    EXPECT_EQ(menuTexts().mid(0, 4), QStringList({"http://a.example/", "http://c.example/", "None", "None"}));
    selectRows(form().lvfiles, {0});
    form().findChild<QAction*>("m2")->trigger();
    EXPECT_EQ(uploads.cell(0, UploadColumn::Site), "http://c.example/");
    EXPECT_EQ(uploads.cell(0, UploadColumn::FtpSite), "ftp.c.example");
    m_prompt.forget();
    form().findChild<QAction*>("m3")->trigger();
    EXPECT_EQ(m_prompt.messages(), QStringList({"Select FTP site (Step 5) not \"None\""}));
    EXPECT_EQ(uploads.cell(0, UploadColumn::FtpSite), "ftp.c.example");

    const QString shorter = m_dir.filePath("one.txt");
    QFile file(shorter);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("ftplist\r\nftp.x.example\r\nux\r\npx\r\nhttp://x.example/\r\n");
    file.close();
    m_prompt.answerOpenFile(shorter);
    form().btnloadftplist->click();
    EXPECT_EQ(menuTexts().mid(0, 3), QStringList({"http://x.example/", "None", "None"}));
    m_prompt.forget();
    selectRows(form().lvfiles, {1});
    form().findChild<QAction*>("m2")->trigger();
    EXPECT_EQ(m_prompt.messages(), QStringList({"Select FTP site (Step 5) not \"None\""}));
    EXPECT_EQ(uploads.cell(1, UploadColumn::Site), "?");
    form().findChild<QAction*>("m1")->trigger();
    EXPECT_EQ(uploads.cell(1, UploadColumn::FtpSite), "ftp.x.example");
}

TEST_F(SitesWindowTest, PopupEntriesFollowTheSiteListPastTheTenth) {
    for (int i = 1; i <= 12; ++i)
        addSite(QString("ftp%1.example").arg(i), "u", "p", QString("http://w%1.example/").arg(i));
    const QList<QAction*> actions = form().PopupMenu1->actions();
    ASSERT_EQ(actions.size(), 13);
    EXPECT_EQ(actions[0]->objectName(), "m1");
    EXPECT_EQ(actions[4]->objectName(), "m5");
    EXPECT_EQ(actions[5]->objectName(), "None1");
    EXPECT_EQ(actions[9]->objectName(), "None5");
    EXPECT_EQ(actions[9]->text(), "http://w10.example/");
    EXPECT_EQ(actions[11]->text(), "http://w12.example/");
    EXPECT_EQ(actions[12]->objectName(), "DoNotUpLoad1");
    EXPECT_EQ(actions[12]->text(), "Do Not UpLoad");

    // The entry past the tenth assigns its own site.
    split();
    selectRows(form().lvfiles, {1});
    actions[11]->trigger();
    EXPECT_EQ(form().uploadTable()->cell(1, UploadColumn::Site), "http://w12.example/");
    EXPECT_EQ(form().uploadTable()->cell(1, UploadColumn::FtpSite), "ftp12.example");
}

TEST_F(SitesWindowTest, MenuAssignsSitesAndDoNotUploadToTheSelectedRows) {
    addSite("ftp.a.example", "ua", "pa", "http://a.example/");
    addSite("ftp.b.example", "ub", "pb", "http://b.example/");
    split();
    TextTable& uploads = *form().uploadTable();

    selectRows(form().lvfiles, {0, 2});
    form().findChild<QAction*>("m2")->trigger();
    for (int r : {0, 2})
        EXPECT_EQ(uploads.rowCells(r).mid(UploadColumn::Site),
                  QStringList({"http://b.example/", uploads.cell(r, UploadColumn::Size), uploads.cell(r, UploadColumn::Crc),
                               "ftp.b.example", "ub", "pb", "?", "?"}));
    EXPECT_EQ(uploads.cell(1, UploadColumn::Site), "?") << "an unselected row keeps its site";

    // An entry with no site behind it changes nothing.
    selectRows(form().lvfiles, {1});
    form().findChild<QAction*>("None5")->trigger();
    EXPECT_EQ(m_prompt.messages(), QStringList({"Select FTP site (Step 5) not \"None\""}));
    EXPECT_EQ(uploads.cell(1, UploadColumn::Site), "?");

    selectRows(form().lvfiles, {1, 2});
    form().findChild<QAction*>("DoNotUpLoad1")->trigger();
    for (int r : {1, 2}) {
        EXPECT_EQ(uploads.cell(r, UploadColumn::Site), "Do Not Upload");
        EXPECT_EQ(uploads.cell(r, UploadColumn::Progress), "100%");
        EXPECT_EQ(uploads.cell(r, UploadColumn::Status), "--");
    }
    EXPECT_EQ(uploads.cell(2, UploadColumn::FtpSite), "ftp.b.example") << "the account stays";
    EXPECT_EQ(uploads.cell(0, UploadColumn::Site), "http://b.example/");
}

TEST_F(SitesWindowTest, OnlyUploadRowsMayBeDroppedAndTheDropNamesTheSelectedSite) {
    addSite("ftp.a.example", "a", "pa", "http://a.example/");
    addSite("ftp.b.example", "b", "pb", "http://b.example/");
    split();
    EXPECT_TRUE(form().lvfiles->dragEnabled());
    EXPECT_TRUE(form().lvfiles->model()->flags(form().lvfiles->model()->index(0, 0)) & Qt::ItemIsDragEnabled);
    EXPECT_FALSE(form().lvftpinfo->dragEnabled());
    EXPECT_TRUE(form().lvftpinfo->viewport()->acceptDrops());
    EXPECT_TRUE(form().lvftpinfoDragOver(form().lvfiles));
    EXPECT_FALSE(form().lvftpinfoDragOver(form().lvftpinfo));
    EXPECT_FALSE(form().lvftpinfoDragOver(nullptr));

    // A drop from outside the window (no source in this program) is refused unseen.
    selectRows(form().lvftpinfo, {1});
    QMimeData mime;
    mime.setText("from elsewhere");
    const QPoint at = form().lvftpinfo->viewport()->rect().center();
    QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form().lvftpinfo->viewport(), &move);
    EXPECT_FALSE(move.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form().lvftpinfo->viewport(), &drop);
    EXPECT_FALSE(drop.isAccepted());
    EXPECT_TRUE(m_prompt.messages().isEmpty());
    EXPECT_EQ(form().siteList()->rows(), 2);

    form().lvftpinfoDragDrop();
    EXPECT_EQ(m_prompt.messages(), QStringList({"1"}));
    form().lvftpinfo->clearSelection();
    form().lvftpinfoDragDrop();
    EXPECT_EQ(m_prompt.messages(), QStringList({"1"})) << "nothing with no site selected";
}

}  // namespace
