#pragma once

#include "common/certificate_question.h"

#include <QString>
#include <QUrl>

// Everything the program asks of or shows to the person at the screen. The window
// answers with real dialogs; the command-line tool and the tests answer without one.
// The core only ever calls this interface, never a widget.
class UserPrompt {
public:
    struct FileDialog {
        QString title;
        QString filter;            // "name (*.ext)" entries separated by ";;"; empty = all files
        QString proposedName;      // file name (or path) offered in the dialog
        QString defaultExtension;  // appended to a typed name that has none
        QString directory;         // where the dialog starts
    };

    virtual ~UserPrompt() = default;

    // A message box with an OK button.
    virtual void information(const QString& text) = 0;
    // The report of an error that abandoned an operation.
    virtual void error(const QString& text) = 0;
    // A confirmation with Yes and No; true for Yes.
    virtual bool confirm(const QString& text) = 0;
    // File dialogs; an empty result means the user cancelled.
    virtual QString openFile(const FileDialog& dialog) = 0;
    virtual QString saveFile(const FileDialog& dialog) = 0;
    // Directory chooser; a chosen directory always ends with "/".
    virtual QString chooseDirectory(const QString& title, const QString& start) = 0;
    // Hands a URL (web page, mailto:, local file or folder) to the desktop's default
    // handler. The result is not checked: nothing is reported when nothing opens it.
    virtual void openUrl(const QUrl& url) = 0;
    // Shows or removes the busy cursor; calls nest.
    virtual void setBusy(bool busy) = 0;
    // A server certificate that verification refused: the user decides whether to trust
    // it (CertificateQuestionText says what is shown). Never answered Once or Always
    // without the user.
    virtual CertificateAnswer trustCertificate(const CertificateQuestion& question) = 0;
};

// Shows the busy cursor for the life of a scope, whatever way the scope is left.
class BusyCursor {
public:
    explicit BusyCursor(UserPrompt& prompt) : m_prompt(prompt) { m_prompt.setBusy(true); }
    ~BusyCursor() { m_prompt.setBusy(false); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    UserPrompt& m_prompt;
};
