// The six pages of the main window, control by control. The client area is a fixed
// 630 x 432, so the controls stand at fixed places.
#include "app/limit_spin_box.h"
#include "app/tform1.h"
#include "gather/gather_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <QWebEngineView>

namespace {

template <typename W>
W* named(W* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

QLabel* label(QWidget* page, const char* name, const QString& text, int x, int y) {
    auto* l = named(new QLabel(text, page), name);
    // "<<< 4) Click here" must not be taken for markup.
    l->setTextFormat(Qt::PlainText);
    l->move(x, y);
    l->adjustSize();
    return l;
}

QPushButton* button(QWidget* page, const char* name, const QString& caption, const QRect& place) {
    auto* b = named(new QPushButton(caption, page), name);
    b->setGeometry(place);
    return b;
}

QLineEdit* edit(QWidget* page, const char* name, const QString& text, const QRect& place) {
    auto* e = named(new QLineEdit(text, page), name);
    e->setGeometry(place);
    return e;
}

QCheckBox* checkBox(QWidget* page, const char* name, const QString& caption, bool checked, int x, int y) {
    auto* c = named(new QCheckBox(caption, page), name);
    c->setChecked(checked);
    c->move(x, y);
    c->adjustSize();
    return c;
}

LimitSpinBox* spin(QWidget* page, const char* name, int minimum, int maximum, int value, const QRect& place) {
    auto* s = named(new LimitSpinBox(minimum, maximum, value, page), name);
    s->setGeometry(place);
    return s;
}

QTreeView* table(QWidget* page, const char* name, const QRect& place) {
    auto* t = named(new QTreeView(page), name);
    t->setGeometry(place);
    return t;
}

// A link label: blue, underlined, hand cursor; a click runs the handler.
QLabel* linkLabel(QWidget* page, const char* name, const QString& text, int x, int y) {
    QLabel* l = label(page, name, text, x, y);
    l->setStyleSheet("color: blue; text-decoration: underline;");
    l->setCursor(Qt::PointingHandCursor);
    return l;
}

// The download icon of page 1: a parcel with an arrow, drawn rather than shipped.
QPixmap parcelIcon() {
    QPixmap pixmap(33, 33);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(120, 80, 30), 1.5));
    p.setBrush(QColor(210, 160, 90));
    p.drawRect(5, 13, 23, 17);
    p.drawLine(16, 13, 16, 30);
    p.setPen(QPen(QColor(20, 90, 200), 3));
    p.drawLine(16, 2, 16, 10);
    p.drawLine(11, 6, 16, 11);
    p.drawLine(21, 6, 16, 11);
    return pixmap;
}

}  // namespace

void TForm1::buildPage1(QWidget* page) {
    btnLoadpwq = button(page, "btnLoadpwq", "Open/Download", {8, 8, 120, 27});
    btnAbortDL = button(page, "btnAbortDL", "Abort ", {134, 8, 80, 27});
    btndlresume = button(page, "btndlresume", "Resume", {220, 8, 80, 27});
    btnldpwq2 = button(page, "btnldpwq2", "btnldpwq2", {310, 8, 80, 27});
    btnldpwq2->hide();
    btnDownload = button(page, "btnDownload", "Download!", {400, 8, 80, 27});
    btnDownload->hide();
    imgdicon = named(new QLabel(page), "imgdicon");
    imgdicon->setGeometry(578, 4, 33, 33);
    imgdicon->setPixmap(parcelIcon());
    imgdicon->setMouseTracking(true);
    Gauge1 = named(new QProgressBar(page), "Gauge1");
    Gauge1->setGeometry(8, 44, 604, 20);
    Gauge1->setRange(0, 100);
    Gauge1->setValue(0);
    lvdl = table(page, "lvdl", {8, 70, 604, 246});
    lvdl->setSelectionMode(QAbstractItemView::SingleSelection);
    lvdl->setSelectionBehavior(QAbstractItemView::SelectRows);
    Label3 = label(page, "Label3", "Simultaneous Downloads:", 8, 329);
    sdl = spin(page, "sdl", 0, 2, 2, {Label3->geometry().right() + 6, 324, 50, 26});
    cbonhd = checkBox(page, "cbonhd", "Check if on HD first", true, 240, 328);
    cbcrcretry = checkBox(page, "cbcrcretry", "Retry On CRC Error", true, 420, 328);
    cbautomerge = checkBox(page, "cbautomerge", "Automatically Merge", true, 420, 300);
    cbautomerge->hide();
    Label2 = label(page, "Label2", "Save Path:", 8, 365);
    dedir = edit(page, "dedir", QString(), {Label2->geometry().right() + 6, 360, 430, 26});
    dedirBrowse = button(page, "dedirBrowse", "Choose...", {dedir->geometry().right() + 6, 360, 90, 26});
    for (QWidget* w : {static_cast<QWidget*>(sdl), static_cast<QWidget*>(cbonhd),
                       static_cast<QWidget*>(cbautomerge), static_cast<QWidget*>(dedir),
                       static_cast<QWidget*>(cbcrcretry)})
        w->setProperty("helpContext", 2);
}

void TForm1::buildPage2(QWidget* page) {
    Label4 = label(page, "Label4", "1) Choose a file to Scatter:", 8, 8);
    Edit1 = edit(page, "Edit1", "File to scatter", {8, 28, 500, 26});
    Button1 = button(page, "Button1", "Browse", {516, 28, 96, 26});
    Label5 = label(page, "Label5", "2) Choose Number of parts to split it into:", 8, 66);
    Label1 = label(page, "Label1", "Parts to split into:", 8, 94);
    splitnumber = spin(page, "splitnumber", 1, 1000, 3, {Label1->geometry().right() + 6, 89, 70, 26});
    lbrecovery = label(page, "lbrecovery", "Recovery parts:", splitnumber->geometry().right() + 16, 94);
    serecovery = spin(page, "serecovery", 0, 254, 0, {lbrecovery->geometry().right() + 6, 89, 70, 26});
    serecovery->setToolTip("Any k of the k + m parts rebuild the file: m recovery parts survive the loss of m "
                           "parts, or of an account holding m of them.");
    // The figures move to the row below to make room.
    lbts = label(page, "lbts", "Total Size: ", 230, 120);
    lbps = label(page, "lbps", "Part Size: ", 420, 120);
    lblfs = label(page, "lblfs", "Last File Size: ", 230, 138);
    lblfs->hide();
    lbcrc = label(page, "lbcrc", "CRC: ", 420, 138);
    lbcrc->hide();
    Label6 = label(page, "Label6",
                   "3) (Optional) You can change the file name (only letters and numbers!), extension and add "
                   "your\n     description or comments:",
                   8, 142);
    edtfilename = edit(page, "edtfilename", "File Name", {8, 182, 250, 26});
    edtExt = edit(page, "edtExt", "bin", {264, 182, 70, 26});
    edtfinusername = edit(page, "edtfinusername", "UserName or Comment", {8, 214, 326, 26});
    edtComment = edit(page, "edtComment", "Comment or Description", {8, 246, 604, 26});
    btnSplit = button(page, "btnSplit", "Split File", {8, 290, 110, 30});
    Label7 = label(page, "Label7", "<<< 4) Click here to split the file!", 128, 297);
    pbSplit = named(new QProgressBar(page), "pbSplit");
    pbSplit->setGeometry(8, 328, 604, 20);
    pbSplit->setRange(0, 100);
    pbSplit->hide();
    Button8 = button(page, "Button8", "&Next >", {516, 360, 96, 30});
}

void TForm1::buildPage3(QWidget* page) {
    Label8 = label(page, "Label8",
                   "5) Fill in your ftp site, username, password and website name, then click 'Add\n"
                   "     to FTP'.  Repeat for all websites to upload file to.\n"
                   "     VERY IMPORTANT!  Website must begin with 'http://' and end with a '/', \n"
                   "     ftp site must NOT include the 'ftp://'",
                   8, 6);
    const int y = Label8->geometry().bottom() + 8;
    edtftpsite = edit(page, "edtftpsite", "ftp.myhost.example", {8, y, 150, 26});
    edtusername = edit(page, "edtusername", "username", {164, y, 100, 26});
    edtpassword = edit(page, "edtpassword", "password", {270, y, 100, 26});
    edtWebSite = edit(page, "edtWebSite", "http://www.myhost.example/files/", {376, y, 236, 26});
    btnAddFTPInfo = button(page, "btnAddFTPInfo", "Add to FTP", {8, y + 32, 110, 28});
    btnloadftplist = button(page, "btnloadftplist", "Load FTP List", {124, y + 32, 110, 28});
    btnSaveftplist = button(page, "btnSaveftplist", "Save FTP List", {240, y + 32, 110, 28});
    lvftpinfo = table(page, "lvftpinfo", {8, y + 66, 604, 350 - (y + 66)});
    lvftpinfo->setToolTip("Double-Click to remove entry.");
    btnNext2 = button(page, "btnNext2", "&Next >", {516, 360, 96, 30});
    statelabel = label(page, "statelabel", "statelabel", 8, 368);
    statelabel->hide();
    Edit2 = edit(page, "Edit2", "Edit2", {100, 362, 120, 26});
    Edit2->hide();
    btnwritepwq = button(page, "btnwritepwq", "Write PWQ", {230, 362, 90, 28});
    btnwritepwq->hide();
}

void TForm1::buildPage4(QWidget* page) {
    Label9 = label(page, "Label9", "6) Highlight files and right-click to select which site to upload them to.", 8, 6);
    lvfiles = table(page, "lvfiles", {8, 26, 604, 150});
    lvfiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvfiles->setSelectionBehavior(QAbstractItemView::SelectRows);
    Button2 = button(page, "Button2", "Send File", {8, 182, 90, 28});
    btnAbortFTP = button(page, "btnAbortFTP", "Abort FTP", {104, 182, 90, 28});
    Label10 = label(page, "Label10", "7) When ALL files have a site assigned to them, click 'Send File'", 204, 188);
    Memo1 = named(new QPlainTextEdit(page), "Memo1");
    Memo1->setGeometry(8, 216, 604, 81);
    btnMain = button(page, "btnMain", "Make PWQ", {8, 312, 90, 28});
    Label11 = label(page, "Label11",
                    "8) Make your PWQ file (you can do this before during or after #7).\n"
                    "     The PWQ file will then contain all the info on the file locations.\n"
                    "     E-Mail this PWQ file to your friends or upload to your site!",
                    108, 306);
    // Nothing is fetched from the web sites unless the user asks.
    cbcheckweb = checkBox(page, "cbcheckweb", "Check the web address of each part after sending", false, 8, 362);
}

void TForm1::buildPage5(QWidget* page) {
    btnHelp = button(page, "btnHelp", "Help", {8, 8, 80, 28});
    btnBuyNow = button(page, "btnBuyNow", "Buy Pro Version", {94, 8, 130, 28});
    btnBuyNow->setToolTip("Click here for Information on the Professional (SuperFast Downloading) Version!");
    Label14 = linkLabel(page, "Label14", "Web Site: https://www.parcelwick.example/", 240, 4);
    Label15 = linkLabel(page, "Label15", "E-Mail: support@parcelwick.example", 240, 22);
    GroupBox1 = named(new QGroupBox("Parcelwick Browser", page), "GroupBox1");
    GroupBox1->setGeometry(6, 42, 612, 358);
    cbURL = named(new QComboBox(GroupBox1), "cbURL");
    cbURL->setEditable(true);
    cbURL->setInsertPolicy(QComboBox::NoInsert);
    // Completing from the history must not turn a typed address into one that differs
    // only in letter case: the path of a URL tells them apart.
    cbURL->completer()->setCaseSensitivity(Qt::CaseSensitive);
    cbURL->setGeometry(8, 22, 536, 26);
    SpeedButton2 = button(GroupBox1, "SpeedButton2", "Go", {550, 22, 54, 26});
    WebBrowser1 = named(new QWebEngineView(GroupBox1), "WebBrowser1");
    WebBrowser1->setGeometry(8, 54, 596, 296);
    httpmemo = named(new QPlainTextEdit(GroupBox1), "httpmemo");
    httpmemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    httpmemo->setGeometry(8, 54, 200, 60);
    httpmemo->hide();
}

void TForm1::buildPage6(QWidget* page) {
    cbenableoptions = checkBox(page, "cbenableoptions", "Enable Options", false, 8, 10);
    GroupBox2 = named(new QGroupBox("Download Options", page), "GroupBox2");
    GroupBox2->setGeometry(8, 40, 320, 236);
    Label12 = label(GroupBox2, "Label12", "Timeout (secs)", 12, 32);
    seto = spin(GroupBox2, "seto", 5, 1000, 30, {190, 27, 80, 26});
    // Beside the time-out, which a server sending a byte now and then never reaches.
    lbminspeed = label(GroupBox2, "lbminspeed", "Minimum speed (bytes/s)", 12, 66);
    seminspeed = spin(GroupBox2, "seminspeed", 0, GatherSettings::MaxLowestSpeed, GatherSettings::DefaultLowestSpeed,
                      {190, 61, 100, 26});
    Label13 = label(GroupBox2, "Label13", "Download Attempts", 12, 100);
    seda = spin(GroupBox2, "seda", 10, 1000, 100, {190, 95, 80, 26});
    // Beyond the one connection per part, fetched again from the start, that a download
    // has unless the user asks: for links that cap each connection's speed, or break.
    cbresume = checkBox(GroupBox2, "cbresume", "Resume broken downloads", false, 12, 132);
    lbconnections = label(GroupBox2, "lbconnections", "Connections per part", 12, 168);
    seconnections = spin(GroupBox2, "seconnections", 1, 8, 1, {190, 163, 80, 26});
    // The cap that keeps a hosting account from banning the client: only the user knows
    // what the account allows.
    lbperhost = label(GroupBox2, "lbperhost", "Connections per host", 12, 202);
    seperhost = spin(GroupBox2, "seperhost", 1, GatherSettings::MaxPerHost, 4, {190, 197, 80, 26});
    for (QWidget* w : downloadOptionControls())
        w->setEnabled(false);
    // Active transfers, the classic way, unless the user asks: a sender behind a home
    // router or firewall cannot be connected to, so the client connects instead. Not
    // locked by "Enable Options", which unlocks the download options only.
    cbpassiveftp = checkBox(page, "cbpassiveftp", "Passive FTP (behind a router or firewall)", false, 8, 288);
    // Plain FTP unless the user asks, as the accounts of old took it; "Required" keeps the
    // password and the parts off the wire in clear text.
    lbftptls = label(page, "lbftptls", "FTP over TLS", 8, 322);
    cbftptls = named(new QComboBox(page), "cbftptls");
    cbftptls->addItems({"Off (plain FTP)", "When offered", "Required"});
    cbftptls->setGeometry(120, 317, 160, 26);
    // One part after another unless the user asks; never two sessions on one account.
    lbsitesatonce = label(page, "lbsitesatonce", "Upload to this many sites at once", 340, 293);
    sesitesatonce = spin(page, "sesitesatonce", 1, 8, 1, {560, 288, 60, 26});
    // A broken store waits for the next Send File and starts from its first byte unless asked.
    cbresumeupload = checkBox(page, "cbresumeupload", "Resume broken uploads", false, 340, 322);
}
