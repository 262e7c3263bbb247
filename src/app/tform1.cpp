#include "app/tform1.h"

#include "app/limit_spin_box.h"
#include "app/log_pane.h"
#include "app/program_files.h"
#include "app/row_drag_model.h"
#include "app/table_view_binding.h"
#include "scatter/split_coded.h"
#include "common/save_path.h"
#include "common/text_log.h"
#include "common/text_table.h"
#include "common/user_error.h"
#include "gather/download_table.h"
#include "gather/gather_engine.h"
#include "scatter/site_list_table.h"
#include "scatter/upload_driver.h"
#include "scatter/upload_table.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeView>
#include <QWebEngineView>

namespace {

constexpr int kClientWidth = 630;
constexpr int kClientHeight = 432;
const char* const kHelpContextProperty = "helpContext";
// The anchor of the help file's Options section (help context 2).
const char* const kOptionsAnchor = "options";
// What a drag out of the upload table carries: only that it is one.
const char* const kUploadRowsMime = "application/x-parcelwick-upload-rows";

void popupAt(QMenu* menu, QWidget* owner, const QPoint& pos) {
    if (auto* view = qobject_cast<QAbstractScrollArea*>(owner))
        menu->popup(view->viewport()->mapToGlobal(pos));
    else
        menu->popup(owner->mapToGlobal(pos));
}

}  // namespace

TForm1::TForm1(UserPrompt& prompt, const QString& firstArgument, QWidget* parent)
    : QMainWindow(parent), m_prompt(prompt), m_firstArgument(firstArgument) {
    setObjectName("Form1");
    setWindowTitle("Parcelwick - one big file through many small web spaces");
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setProperty(kHelpContextProperty, 1);
    setWindowIcon(ProgramIcon());

    m_programFolder = QCoreApplication::applicationDirPath() + '/';
    m_downloadTable = new TextTable(DownloadTableColumns(), this);
    m_siteList = new TextTable(SiteListColumns(), this);
    m_uploadTable = new TextTable(UploadTableColumns(), this);
    m_ftpLog = new TextLog(this);
    m_httpLog = new TextLog(this);

    buildGather();
    buildUpload();
    OpenDialog1 = {};
    SaveDialogftplist = {};

    auto* client = new QWidget(this);
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);
    // Beneath the tab control: the hidden manifest buffer's companion button.
    btnReBuild = new QPushButton("Rebuild", client);
    btnReBuild->setObjectName("btnReBuild");
    btnReBuild->hide();

    PageControl1 = new QTabWidget(client);
    PageControl1->setObjectName("PageControl1");
    PageControl1->setGeometry(0, 0, kClientWidth, kClientHeight);
    // All six captions must fit the fixed width without scroll arrows.
    QFont tabFont = PageControl1->tabBar()->font();
    tabFont.setPointSizeF(tabFont.pointSizeF() * 0.85);
    PageControl1->tabBar()->setFont(tabFont);
    PageControl1->setUsesScrollButtons(false);
    const char* const captions[] = {"Extract Parcelwick Files", "Make Parcelwick Files Part 1", "Part 2",
                                    "Part 3",                   "Help/Upgrade/Ads",             "Options"};
    QWidget* pages[6];
    for (int i = 0; i < 6; ++i) {
        pages[i] = new QWidget;
        pages[i]->setObjectName(QString("TabSheet%1").arg(i + 1));
        PageControl1->addTab(pages[i], captions[i]);
    }
    buildPage1(pages[0]);
    buildPage2(pages[1]);
    buildPage3(pages[2]);
    buildPage4(pages[3]);
    buildPage5(pages[4]);
    buildPage6(pages[5]);
    BindTableView(lvdl, m_downloadTable);
    BindTableView(lvftpinfo, m_siteList);
    // Rows of the upload table may be dragged onto the site list.
    BindTableView(lvfiles, m_uploadTable, new RowDragModel(m_uploadTable, kUploadRowsMime, this));
    BindLogPane(Memo1, m_ftpLog);
    BindLogPane(httpmemo, m_httpLog);

    buildMenus();
    buildPopupMenus();
    connectHandlers();
    buildBrowser();
    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen()->availableGeometry()));
    // F1 reaches the focused control first; watching the application lets the window
    // answer it for whichever of its controls has the focus.
    qApp->installEventFilter(this);

    FormCreate();
}

TForm1::~TForm1() {
    stopCodedSplit();
    qApp->removeEventFilter(this);
}

void TForm1::FormCreate() {
    m_commandLineFlag = false;
    m_gather->setStopFlag(false);
    m_upload->setAborted(false);
    m_helpFile = ShippedFilePath(m_programFolder, HelpPageName);
    dedir->setText(DefaultSavePath());
    PageControl1->setCurrentIndex(0);
    cbURL->setEditText(startPage().toString());
    WebBrowser1->setUrl(startPage());
    if (!m_firstArgument.isEmpty())
        guard([this] { btnLoadpwqClick(); });
}

QUrl TForm1::startPage() const { return QUrl::fromLocalFile(ShippedFilePath(m_programFolder, StartPageName)); }

void TForm1::buildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("File1");
    QMenu* help = menuBar()->addMenu("&Help");
    help->setObjectName("Help1");
    struct Item {
        QMenu* menu;
        const char* name;
        const char* caption;
        void (TForm1::*handler)();
    };
    const Item items[] = {
        {file, "Open1", "&Open", &TForm1::Open1Click},
        {file, "ParcelwickWizard1", "Parcelwick &Wizard", &TForm1::ParcelwickWizard1Click},
        {file, "Exit1", "E&xit", &TForm1::Exit1Click},
        {help, "ParcelwickHelp1", "Parcelwick &Help", &TForm1::ParcelwickHelp1Click},
        {help, "About1", "&About", &TForm1::About1Click},
    };
    for (const Item& item : items) {
        QAction* action = item.menu->addAction(item.caption);
        action->setObjectName(item.name);
        connect(action, &QAction::triggered, this, guarded(item.handler));
    }
}

void TForm1::buildPopupMenus() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    rebuildSiteEntries();

    PopupMenu2 = new QMenu(this);
    PopupMenu2->setObjectName("PopupMenu2");
    QAction* restart = PopupMenu2->addAction("ReStart");
    restart->setObjectName("ReStart1");
    connect(restart, &QAction::triggered, this, guarded(&TForm1::ReStart1Click));

    PopupMenuFTP = new QMenu(this);
    PopupMenuFTP->setObjectName("PopupMenuFTP");
    QAction* clear = PopupMenuFTP->addAction("Clear");
    clear->setObjectName("Clear1");
    connect(clear, &QAction::triggered, this, guarded(&TForm1::Clear1Click));
    QAction* large = PopupMenuFTP->addAction("Open in Large Window");
    large->setObjectName("OpeninLargeWindow1");
    connect(large, &QAction::triggered, this, guarded(&TForm1::OpeninLargeWindow1Click));

    const std::pair<QWidget*, QMenu*> owners[] = {{lvfiles, PopupMenu1}, {lvdl, PopupMenu2}, {Memo1, PopupMenuFTP}};
    for (const auto& [owner, menu] : owners) {
        owner->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(owner, &QWidget::customContextMenuRequested, this,
                [owner = owner, menu = menu](const QPoint& pos) { popupAt(menu, owner, pos); });
    }
}

void TForm1::connectHandlers() {
    const std::pair<QPushButton*, void (TForm1::*)()> clicks[] = {
        {btnLoadpwq, &TForm1::btnLoadpwqClick}, {dedirBrowse, &TForm1::dedirBrowseClick},
        {Button1, &TForm1::Button1Click},       {btnSplit, &TForm1::btnSplitClick},
        {Button8, &TForm1::btnNext2Click},      {btnNext2, &TForm1::btnNext2Click},
        {Button2, &TForm1::Button2Click},       {btnAbortFTP, &TForm1::btnAbortFTPClick},
        {btnHelp, &TForm1::btnHelpClick},
        {btnBuyNow, &TForm1::btnBuyNowClick},
        {btnAddFTPInfo, &TForm1::btnAddFTPInfoClick}, {btnSaveftplist, &TForm1::btnSaveftplistClick},
        {btnloadftplist, &TForm1::btnloadftplistClick}, {btnMain, &TForm1::btnMainClick},
        {btnwritepwq, &TForm1::btnwritepwqClick}, {btnldpwq2, &TForm1::btnldpwq2Click},
        {btnDownload, &TForm1::btnDownloadClick}, {btnReBuild, &TForm1::btnReBuildClick},
        {btnAbortDL, &TForm1::btnAbortDLClick}, {btndlresume, &TForm1::btndlresumeClick},
    };
    for (const auto& [control, handler] : clicks)
        connect(control, &QPushButton::clicked, this, guarded(handler));
    connect(sdl, &QSpinBox::valueChanged, this, guarded(&TForm1::sdlChange));
    connect(splitnumber, &QSpinBox::valueChanged, this, guarded(&TForm1::splitnumberChange));
    connect(cbenableoptions, &QCheckBox::toggled, this, guarded(&TForm1::cbenableoptionsClick));
    connectDragAndDrop();
}

void TForm1::Open1Click() {
    PageControl1->setCurrentIndex(0);
    btnLoadpwqClick();
}

void TForm1::ParcelwickWizard1Click() { PageControl1->setCurrentIndex(1); }

// Ends the event loop without closing the window, so FormClose does not run. An upload
// run in progress is aborted first, so that no session of it outlives the loop.
void TForm1::Exit1Click() {
    if (m_upload->running())
        btnAbortFTPClick();
    QCoreApplication::exit(0);
}

void TForm1::closeEvent(QCloseEvent* event) {
    guard([this] { FormClose(); });
    event->accept();
}

// An upload run stops ("FTP-Aborted") and the live downloads end before the window goes.
void TForm1::FormClose() {
    btnAbortFTPClick();
    m_gather->Abort();
}

void TForm1::btnNext2Click() {
    const int page = PageControl1->currentIndex();
    if (page + 1 < PageControl1->count())
        PageControl1->setCurrentIndex(page + 1);
}

int TForm1::helpContext(const QWidget* control) const {
    for (const QWidget* w = control; w; w = w->parentWidget()) {
        const QVariant context = w->property(kHelpContextProperty);
        if (context.isValid())
            return context.toInt();
        if (w == this)
            break;
    }
    return 1;
}

void TForm1::showHelp(int context) {
    QUrl url = QUrl::fromLocalFile(m_helpFile);
    if (context == 2)
        url.setFragment(kOptionsAnchor);
    RunShell(url);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F1) {
        auto* control = qobject_cast<QWidget*>(watched);
        if (control && control->window() == this) {
            guard([this, control] { showHelp(helpContext(control)); });
            return true;
        }
    }
    if (siteListEvent(watched, event))
        return true;
    if (watched == imgdicon && event->type() == QEvent::MouseMove)
        guard([this] { imgdiconMouseMove(); });
    if (event->type() == QEvent::MouseButtonRelease && (watched == Label14 || watched == Label15))
        guard([this, watched] { watched == Label14 ? Label14Click() : Label15Click(); });
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::reportFailure(const std::exception& failure) {
    if (const auto* userError = dynamic_cast<const UserError*>(&failure))
        m_prompt.error(userError->text());
    else
        m_prompt.error(QString::fromLocal8Bit(failure.what()));
}
