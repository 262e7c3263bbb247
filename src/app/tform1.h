#pragma once

#include "common/manifest_format.h"
#include "common/user_prompt.h"
#include "ftp/ftp_types.h"
#include "scatter/splitter.h"

#include <QMainWindow>
#include <QStringList>
#include <QUrl>
#include <exception>
#include <memory>
#include <optional>
#include <thread>

class BrowserPanel;
class CodedSplit;
class LimitSpinBox;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTimer;
class QTreeView;
class QWebEngineView;
class GatherEngine;
class TFormLargeFTP;
class TFtpClient;
class THttpClient;
class TextLog;
class TextTable;
class UploadDriver;

// pwUnit1: the main window. Its controls hold the user's inputs and its three tables
// are the program's working data; every handler keeps the name of its control and
// event and hands the work to the core. The controls are reachable by name (as fields
// and as object names) because the handlers of every side of the program read them.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // The prompt answers every question the window asks (real dialogs in the program,
    // a script in tests). The first command-line argument, when not empty, is the
    // manifest opened at start-up.
    explicit TForm1(UserPrompt& prompt, const QString& firstArgument = QString(), QWidget* parent = nullptr);
    ~TForm1() override;

    // The large log window made at start-up beside this one; without one, the first
    // "Open in Large Window" makes its own.
    void setLargeFtpWindow(TFormLargeFTP* window) { m_largeFtpWindow = window; }

    // State of the window, cleared at start-up.
    bool commandLineFlag() const { return m_commandLineFlag; }
    bool stopFlag() const;
    bool ftpAborted() const;
    // The help file and the address of the browser's start page, both shipped with the
    // program (installed in its data folder, or beside it in the build folder).
    const QString& helpFile() const { return m_helpFile; }
    QUrl startPage() const;
    // The manifest file handed to the loader last (empty until one was chosen).
    const QString& manifestPath() const { return m_manifestPath; }

    TextTable* downloadTable() const { return m_downloadTable; }
    TextTable* siteList() const { return m_siteList; }
    TextTable* uploadTable() const { return m_uploadTable; }
    TextLog* ftpLog() const { return m_ftpLog; }
    TextLog* httpLog() const { return m_httpLog; }
    // The gather engine behind page 1: the live downloads and the stall timer.
    GatherEngine* gather() const { return m_gather.get(); }
    ManifestLines mempwq;  // lines of the current manifest, written or read

    // Help context of a control: 2 for the controls the Options section of the help
    // explains, 1 for everything else.
    int helpContext(const QWidget* control) const;
    void showHelp(int context);

    // Handlers of this window.
    void Open1Click();
    void ParcelwickWizard1Click();
    void Exit1Click();
    void ParcelwickHelp1Click();
    void About1Click();
    void btnHelpClick();
    void btnBuyNowClick();
    void Label14Click();
    void Label15Click();
    void imgdiconMouseMove();
    void sdlChange();
    void cbenableoptionsClick();
    void btnNext2Click();
    void btnLoadpwqClick();
    void dedirBrowseClick();
    void Button1Click();
    void splitnumberChange();
    void btnSplitClick();
    void Display(const QString& msg);
    void Clear1Click();
    void OpeninLargeWindow1Click();
    // Page 3: the site list.
    void btnAddFTPInfoClick();
    void lvftpinfoDblClick();
    void btnSaveftplistClick();
    void btnloadftplistClick();
    // Only rows dragged out of the upload table may be dropped on the site list.
    bool lvftpinfoDragOver(const QObject* source) const;
    void lvftpinfoDragDrop();
    // Page 4: the upload table's popup menu (m1Click .. None5Click and the entries past
    // the tenth are `siteEntryClick` with their index) and the manifest.
    void siteEntryClick(int entry);
    void DoNotUpLoad1Click();
    void btnMainClick();
    void btnwritepwqClick();
    // Page 4: the upload run and the events of its FTP client.
    void Button2Click();
    void btnAbortFTPClick();
    void Ftpc1RequestDone(TFtpRequest RqType, quint16 Error);
    void Ftpc1Progress();
    void Ftpc1StateChange();
    void Ftpc1BgException();
    // Page 1: gathering.
    void btnldpwq2Click();
    void btnDownloadClick();
    void btnAbortDLClick();
    void btndlresumeClick();
    void ReStart1Click();
    // One tick of the stall watchdog; the engine's timer (StallTimer) runs it each second.
    void StallTimerTimer();
    void btnReBuildClick();
    // Page 5: the browser and its manifest links.
    void SpeedButton2Click();
    void WebBrowser1DownloadComplete();
    void WebBrowser1BeforeNavigate2(const QUrl& target, bool& cancel);
    void WebBrowser1ManifestLink(const QString& url);

    // Hands a text (document path or URL) to the desktop's default handler.
    void RunShell(const QUrl& target);

    // Non-visual components: the dialogs are the settings the prompt is asked with
    // (the manifest dialogs belong to the core: ChooseManifestPath, WritePwqDialog).
    UserPrompt::FileDialog OpenDialog1;
    UserPrompt::FileDialog SaveDialogftplist;
    QTimer* StallTimer = nullptr;  // the gather engine's
    THttpClient* HttpClient1 = nullptr;
    TFtpClient* Ftpc1 = nullptr;  // every upload's client
    QMenu* PopupMenu1 = nullptr;
    QMenu* PopupMenu2 = nullptr;
    QMenu* PopupMenuFTP = nullptr;

    QTabWidget* PageControl1 = nullptr;
    // Page 1, "Extract Parcelwick Files".
    QPushButton* btnLoadpwq = nullptr;
    QPushButton* btnAbortDL = nullptr;
    QPushButton* btndlresume = nullptr;
    QPushButton* btnldpwq2 = nullptr;
    QPushButton* btnDownload = nullptr;
    QLabel* imgdicon = nullptr;
    QProgressBar* Gauge1 = nullptr;
    QCheckBox* cbonhd = nullptr;
    QCheckBox* cbautomerge = nullptr;
    QCheckBox* cbcrcretry = nullptr;
    QTreeView* lvdl = nullptr;
    QLabel* Label3 = nullptr;
    LimitSpinBox* sdl = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* dedir = nullptr;
    QPushButton* dedirBrowse = nullptr;
    // Page 2, "Make Parcelwick Files Part 1".
    QLabel* Label4 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button1 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label1 = nullptr;
    LimitSpinBox* splitnumber = nullptr;
    QLabel* lbrecovery = nullptr;
    LimitSpinBox* serecovery = nullptr;  // recovery parts of a split; 0 for the plain one
    QProgressBar* pbSplit = nullptr;     // shown while a split with recovery parts runs
    QLabel* lbts = nullptr;
    QLabel* lbps = nullptr;
    QLabel* lblfs = nullptr;
    QLabel* lbcrc = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* edtfilename = nullptr;
    QLineEdit* edtExt = nullptr;
    QLineEdit* edtfinusername = nullptr;
    QLineEdit* edtComment = nullptr;
    QPushButton* btnSplit = nullptr;
    QLabel* Label7 = nullptr;
    QPushButton* Button8 = nullptr;
    // Page 3, "Part 2".
    QLabel* Label8 = nullptr;
    QLineEdit* edtftpsite = nullptr;
    QLineEdit* edtusername = nullptr;
    QLineEdit* edtpassword = nullptr;
    QLineEdit* edtWebSite = nullptr;
    QPushButton* btnAddFTPInfo = nullptr;
    QPushButton* btnloadftplist = nullptr;
    QPushButton* btnSaveftplist = nullptr;
    QTreeView* lvftpinfo = nullptr;
    QPushButton* btnNext2 = nullptr;
    QLabel* statelabel = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* btnwritepwq = nullptr;
    // Page 4, "Part 3".
    QLabel* Label9 = nullptr;
    QTreeView* lvfiles = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* btnAbortFTP = nullptr;
    QLabel* Label10 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* btnMain = nullptr;
    QCheckBox* cbcheckweb = nullptr;  // each stored part's web address is checked (its length)
    QLabel* Label11 = nullptr;
    // Page 5, "Help/Upgrade/Ads".
    QPushButton* btnHelp = nullptr;
    QPushButton* btnBuyNow = nullptr;
    QLabel* Label14 = nullptr;
    QLabel* Label15 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QComboBox* cbURL = nullptr;
    QPushButton* SpeedButton2 = nullptr;
    QWebEngineView* WebBrowser1 = nullptr;
    QPlainTextEdit* httpmemo = nullptr;
    // Page 6, "Options".
    QCheckBox* cbenableoptions = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLabel* Label12 = nullptr;
    LimitSpinBox* seto = nullptr;
    QLabel* lbminspeed = nullptr;
    LimitSpinBox* seminspeed = nullptr;  // the lowest speed of a download before the watchdog restarts it
    QLabel* Label13 = nullptr;
    LimitSpinBox* seda = nullptr;
    QCheckBox* cbresume = nullptr;  // a part that broke off keeps its bytes and asks for the rest
    QLabel* lbconnections = nullptr;
    LimitSpinBox* seconnections = nullptr;  // ranges of a large part fetched at once
    QLabel* lbperhost = nullptr;
    LimitSpinBox* seperhost = nullptr;  // connections open to one host at most
    QCheckBox* cbpassiveftp = nullptr;  // every session of an upload run opens its data connections itself
    QLabel* lbftptls = nullptr;
    QComboBox* cbftptls = nullptr;  // "FTP over TLS" of an upload run: its item index is a TFtpTlsMode
    QLabel* lbsitesatonce = nullptr;
    LimitSpinBox* sesitesatonce = nullptr;  // accounts an upload run sends to at once (1: one part after another)
    QCheckBox* cbresumeupload = nullptr;    // a store broken off is tried again in the run, with REST where offered
    // Beneath the tab control, never seen.
    QPushButton* btnReBuild = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    // What "Enable Options" unlocks for editing.
    QList<QWidget*> downloadOptionControls() const;
    void FormClose();
    void buildMenus();
    void buildPopupMenus();
    void buildPage1(QWidget* page);
    void buildPage2(QWidget* page);
    void buildPage3(QWidget* page);
    void buildPage4(QWidget* page);
    void buildPage5(QWidget* page);
    void buildPage6(QWidget* page);
    void connectHandlers();
    void connectDragAndDrop();
    void buildBrowser();
    void rebuildSiteEntries();
    bool siteListEvent(QObject* watched, QEvent* event);
    void buildGather();
    void buildUpload();
    void showSplitLabels(const QString& sourcePath);
    void startCodedSplit(std::unique_ptr<CodedSplit> split);
    void finishCodedSplit(const QString& failure);
    void stopCodedSplit();

    // The one place where a failure of a handler becomes a message: the text is shown
    // and the window goes on.
    template <typename Handler>
    void guard(Handler&& handler) {
        try {
            handler();
        } catch (const std::exception& e) {
            reportFailure(e);
        }
    }
    void reportFailure(const std::exception& failure);
    // A slot that runs a handler of this window under the guard.
    auto guarded(void (TForm1::*handler)()) {
        return [this, handler] { guard([this, handler] { (this->*handler)(); }); };
    }

    UserPrompt& m_prompt;
    QString m_firstArgument;
    QString m_programFolder;
    QString m_helpFile;
    QString m_manifestPath;
    bool m_commandLineFlag = false;
    std::unique_ptr<GatherEngine> m_gather;
    std::unique_ptr<UploadDriver> m_upload;
    TextTable* m_downloadTable = nullptr;
    TextTable* m_siteList = nullptr;
    TextTable* m_uploadTable = nullptr;
    TextLog* m_ftpLog = nullptr;
    TextLog* m_httpLog = nullptr;
    TFormLargeFTP* m_largeFtpWindow = nullptr;
    BrowserPanel* m_browser = nullptr;
    // A split with recovery parts runs on a thread of its own, so the window goes on.
    std::unique_ptr<CodedSplit> m_codedSplit;
    std::thread m_splitThread;
    // The whole source's digests from the split that made the upload table's rows.
    std::optional<SplitOutcome> m_lastSplit;
};
