// The window as the user first sees it: pages, every control with its caption, page,
// default, limits and state, and what start-up sets.
#include "window_fixture.h"

#include "app/limit_spin_box.h"
#include "common/save_path.h"
#include "common/text_table.h"
#include "gather/download_table.h"
#include "scatter/upload_table.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QAbstractProxyModel>
#include <QTreeView>
#include <QWebEngineView>

namespace {

QString captionOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    return QString();
}

// 1-based page of a control, 0 when it stands outside the tab pages.
int pageOf(TForm1& form, QWidget* w) {
    for (QWidget* p = w; p; p = p->parentWidget()) {
        const int index = form.PageControl1->indexOf(p);
        if (index >= 0)
            return index + 1;
    }
    return 0;
}

struct ControlRow {
    const char* name;
    int page;
    const char* caption;
    bool shown;
    bool enabled;
};

const ControlRow kControls[] = {
    {"btnLoadpwq", 1, "Open/Download", true, true},
    {"btnAbortDL", 1, "Abort ", true, true},
    {"btndlresume", 1, "Resume", true, true},
    {"btnldpwq2", 1, "btnldpwq2", false, true},
    {"btnDownload", 1, "Download!", false, true},
    {"cbonhd", 1, "Check if on HD first", true, true},
    {"cbautomerge", 1, "Automatically Merge", false, true},
    {"cbcrcretry", 1, "Retry On CRC Error", true, true},
    {"Label3", 1, "Simultaneous Downloads:", true, true},
    {"Label2", 1, "Save Path:", true, true},
    {"Label4", 2, "1) Choose a file to Scatter:", true, true},
    {"Edit1", 2, "File to scatter", true, true},
    {"Button1", 2, "Browse", true, true},
    {"Label5", 2, "2) Choose Number of parts to split it into:", true, true},
    {"Label1", 2, "Parts to split into:", true, true},
    {"lbrecovery", 2, "Recovery parts:", true, true},
    {"lbts", 2, "Total Size: ", true, true},
    {"lbps", 2, "Part Size: ", true, true},
    {"lblfs", 2, "Last File Size: ", false, true},
    {"lbcrc", 2, "CRC: ", false, true},
    {"Label6", 2,
     "3) (Optional) You can change the file name (only letters and numbers!), extension and add your\n"
     "     description or comments:",
     true, true},
    {"edtfilename", 2, "File Name", true, true},
    {"edtExt", 2, "bin", true, true},
    {"edtfinusername", 2, "UserName or Comment", true, true},
    {"edtComment", 2, "Comment or Description", true, true},
    {"btnSplit", 2, "Split File", true, true},
    {"Label7", 2, "<<< 4) Click here to split the file!", true, true},
    {"Button8", 2, "&Next >", true, true},
    {"Label8", 3,
     "5) Fill in your ftp site, username, password and website name, then click 'Add\n"
     "     to FTP'.  Repeat for all websites to upload file to.\n"
     "     VERY IMPORTANT!  Website must begin with 'http://' and end with a '/', \n"
     "     ftp site must NOT include the 'ftp://'",
     true, true},
    {"edtftpsite", 3, "ftp.myhost.example", true, true},
    {"edtusername", 3, "username", true, true},
    {"edtpassword", 3, "password", true, true},
    {"edtWebSite", 3, "http://www.myhost.example/files/", true, true},
    {"btnAddFTPInfo", 3, "Add to FTP", true, true},
    {"btnloadftplist", 3, "Load FTP List", true, true},
    {"btnSaveftplist", 3, "Save FTP List", true, true},
    {"btnNext2", 3, "&Next >", true, true},
    {"statelabel", 3, "statelabel", false, true},
    {"Edit2", 3, "Edit2", false, true},
    {"btnwritepwq", 3, "Write PWQ", false, true},
    {"Label9", 4, "6) Highlight files and right-click to select which site to upload them to.", true, true},
    {"Button2", 4, "Send File", true, true},
    {"btnAbortFTP", 4, "Abort FTP", true, true},
    {"Label10", 4, "7) When ALL files have a site assigned to them, click 'Send File'", true, true},
    {"btnMain", 4, "Make PWQ", true, true},
    {"Label11", 4,
     "8) Make your PWQ file (you can do this before during or after #7).\n"
     "     The PWQ file will then contain all the info on the file locations.\n"
     "     E-Mail this PWQ file to your friends or upload to your site!",
     true, true},
    {"btnHelp", 5, "Help", true, true},
    {"btnBuyNow", 5, "Buy Pro Version", true, true},
    {"Label14", 5, "Web Site: https://www.parcelwick.example/", true, true},
    {"Label15", 5, "E-Mail: support@parcelwick.example", true, true},
    {"GroupBox1", 5, "Parcelwick Browser", true, true},
    {"SpeedButton2", 5, "Go", true, true},
    {"cbenableoptions", 6, "Enable Options", true, true},
    {"GroupBox2", 6, "Download Options", true, true},
    {"Label12", 6, "Timeout (secs)", true, false},
    {"Label13", 6, "Download Attempts", true, false},
    {"lbminspeed", 6, "Minimum speed (bytes/s)", true, false},
    {"cbresume", 6, "Resume broken downloads", true, false},
    {"lbconnections", 6, "Connections per part", true, false},
    {"lbperhost", 6, "Connections per host", true, false},
    {"btnReBuild", 0, "Rebuild", false, true},
};

struct SpinRow {
    const char* name;
    int page, minimum, maximum, value;
    bool enabled;
};

const SpinRow kSpins[] = {
    {"sdl", 1, 0, 2, 2, true},
    {"splitnumber", 2, 1, 1000, 3, true},
    {"serecovery", 2, 0, 254, 0, true},
    {"seto", 6, 5, 1000, 30, false},
    {"seda", 6, 10, 1000, 100, false},
    {"seminspeed", 6, 0, 10485760, 1024, false},
    {"seconnections", 6, 1, 8, 1, false},
    {"seperhost", 6, 1, 16, 4, false},
};

}  // namespace

TEST_F(WindowTest, PagesInOrderWithPageOneShown) {
    open();
    const QStringList expected = {"Extract Parcelwick Files", "Make Parcelwick Files Part 1", "Part 2", "Part 3",
                                  "Help/Upgrade/Ads", "Options"};
    QStringList captions;
    for (int i = 0; i < form().PageControl1->count(); ++i)
        captions << form().PageControl1->tabText(i);
    EXPECT_EQ(captions, expected);
    EXPECT_EQ(form().PageControl1->currentIndex(), 0);
    EXPECT_TRUE(form().windowTitle().startsWith("Parcelwick"));
    EXPECT_EQ(form().centralWidget()->size(), QSize(630, 432));
    EXPECT_EQ(form().minimumSize(), form().maximumSize());
    EXPECT_FALSE(form().windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST_F(WindowTest, OpensCentredOnTheScreen) {
    open();
    form().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form()));
    const QRect screen = form().screen()->availableGeometry();
    const QPoint offset = form().frameGeometry().center() - screen.center();
    EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
    EXPECT_TRUE(screen.contains(form().frameGeometry()));
}

TEST_F(WindowTest, EveryControlHasItsCaptionPageAndState) {
    open();
    for (const ControlRow& row : kControls) {
        QWidget* w = control(row.name);
        if (!w)
            continue;
        EXPECT_EQ(captionOf(w), QString(row.caption)) << row.name;
        EXPECT_EQ(pageOf(form(), w), row.page) << row.name;
        EXPECT_EQ(!w->isHidden(), row.shown) << row.name;
        EXPECT_EQ(w->isEnabled(), row.enabled) << row.name;
    }
    EXPECT_TRUE(control<QCheckBox>("cbonhd")->isChecked());
    EXPECT_TRUE(control<QCheckBox>("cbautomerge")->isChecked());
    EXPECT_TRUE(control<QCheckBox>("cbcrcretry")->isChecked());
    EXPECT_FALSE(control<QCheckBox>("cbenableoptions")->isChecked());
    EXPECT_FALSE(control<QCheckBox>("cbresume")->isChecked());
    EXPECT_EQ(control<QPushButton>("btnBuyNow")->toolTip(),
              "Click here for Information on the Professional (SuperFast Downloading) Version!");
    EXPECT_EQ(control<QTreeView>("lvftpinfo")->toolTip(), "Double-Click to remove entry.");
    EXPECT_EQ(control<QProgressBar>("Gauge1")->value(), 0);
    EXPECT_EQ(control<QLabel>("imgdicon")->size(), QSize(33, 33));
    EXPECT_TRUE(control<QPlainTextEdit>("httpmemo")->isHidden());
    EXPECT_TRUE(control<QPlainTextEdit>("Memo1")->isReadOnly());
    EXPECT_TRUE(control<QComboBox>("cbURL")->isEditable());
}

TEST_F(WindowTest, SpinBoxesHaveTheirLimitsAndValues) {
    open();
    for (const SpinRow& row : kSpins) {
        auto* s = control<LimitSpinBox>(row.name);
        if (!s)
            continue;
        EXPECT_EQ(pageOf(form(), s), row.page) << row.name;
        EXPECT_EQ(s->minimum(), row.minimum) << row.name;
        EXPECT_EQ(s->maximum(), row.maximum) << row.name;
        EXPECT_EQ(s->value(), row.value) << row.name;
        EXPECT_EQ(s->isEnabled(), row.enabled) << row.name;
    }
}

TEST_F(WindowTest, TablesShowTheirColumnSets) {
    open();
    const std::pair<const char*, TextTable*> tables[] = {
        {"lvdl", form().downloadTable()}, {"lvftpinfo", form().siteList()}, {"lvfiles", form().uploadTable()}};
    for (const auto& [name, table] : tables) {
        auto* view = control<QTreeView>(name);
        ASSERT_NE(view, nullptr);
        // A view may show its table through a proxy (the upload table's lets rows be dragged).
        const auto* proxy = qobject_cast<const QAbstractProxyModel*>(view->model());
        EXPECT_EQ(proxy ? proxy->sourceModel() : view->model(), table) << name;
        for (int c = 0; c < table->columns().size(); ++c) {
            const int width = table->columns()[c].width;
            EXPECT_EQ(view->isColumnHidden(c), width == 0) << name << " column " << c;
            if (width > 0) {
                EXPECT_EQ(view->columnWidth(c), width) << name << " column " << c;
            }
        }
    }
    EXPECT_TRUE(form().lvdl->isColumnHidden(DownloadColumn::CrcPwq));
    EXPECT_FALSE(form().lvdl->isColumnHidden(DownloadColumn::Filename));
    EXPECT_EQ(form().lvfiles->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(form().lvdl->selectionBehavior(), QAbstractItemView::SelectRows);
}

TEST_F(WindowTest, MenusAndPopupMenusHoldTheirItems) {
    open();
    QStringList menuItems;
    for (QAction* top : form().menuBar()->actions())
        for (QAction* item : top->menu()->actions())
            menuItems << top->menu()->objectName() + "/" + item->objectName();
    EXPECT_EQ(menuItems, QStringList({"File1/Open1", "File1/ParcelwickWizard1", "File1/Exit1", "Help1/ParcelwickHelp1",
                                      "Help1/About1"}));

    auto itemsOf = [](QMenu* menu) {
        QStringList items;
        for (QAction* a : menu->actions())
            items << a->objectName() + "=" + a->text();
        return items;
    };
    EXPECT_EQ(itemsOf(control<QMenu>("PopupMenu1")),
              QStringList({"m1=None", "m2=None", "m3=None", "m4=None", "m5=None", "None1=None", "None2=None",
                           "None3=None", "None4=None", "None5=None", "DoNotUpLoad1=Do Not UpLoad"}));
    EXPECT_EQ(itemsOf(control<QMenu>("PopupMenu2")), QStringList({"ReStart1=ReStart"}));
    EXPECT_EQ(itemsOf(control<QMenu>("PopupMenuFTP")),
              QStringList({"Clear1=Clear", "OpeninLargeWindow1=Open in Large Window"}));
    EXPECT_EQ(form().lvfiles->contextMenuPolicy(), Qt::CustomContextMenu);
    EXPECT_EQ(form().lvdl->contextMenuPolicy(), Qt::CustomContextMenu);
    EXPECT_EQ(form().Memo1->contextMenuPolicy(), Qt::CustomContextMenu);
}

TEST_F(WindowTest, StartUpStateWithoutArgument) {
    open();
    EXPECT_FALSE(form().commandLineFlag());
    EXPECT_FALSE(form().stopFlag());
    EXPECT_FALSE(form().ftpAborted());
    EXPECT_EQ(control<QLineEdit>("dedir")->text(), DefaultSavePath());
    EXPECT_EQ(form().helpFile(), QCoreApplication::applicationDirPath() + "/parcelwick-help.html");
    EXPECT_FALSE(form().StallTimer->isActive());
    EXPECT_EQ(form().StallTimer->interval(), 1000);
    EXPECT_TRUE(form().manifestPath().isEmpty());
    EXPECT_TRUE(m_prompt.shown().isEmpty());
    EXPECT_TRUE(form().OpenDialog1.filter.isEmpty());
}

TEST_F(WindowTest, BrowserIsSentToTheShippedStartPage) {
    open();
    const QUrl start = form().startPage();
    EXPECT_TRUE(start.isLocalFile());
    EXPECT_TRUE(start.toLocalFile().endsWith("/parcelwick-start.html"));
    EXPECT_EQ(control<QComboBox>("cbURL")->currentText(), start.toString());
    EXPECT_EQ(control<QWebEngineView>("WebBrowser1")->url(), start);
}

TEST_F(WindowTest, WithoutArgumentOpenAlwaysAsks) {
    open();
    form().btnLoadpwq->click();
    ASSERT_EQ(m_prompt.shown().size(), 1);
    EXPECT_EQ(m_prompt.shown()[0].kind, ScriptedPrompt::Kind::OpenFile);
    EXPECT_FALSE(form().commandLineFlag());
    EXPECT_TRUE(form().manifestPath().isEmpty());
}
