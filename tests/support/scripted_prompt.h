#pragma once

#include "common/user_prompt.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QUrl>

// The user, played by a test: answers are queued before the code under test asks, and
// every prompt shown is recorded so a test can assert its exact text and order.
// Asking with an empty queue is answered as a cancel (No, empty path, a certificate
// refused) and recorded the same way, so a test sees the question it did not expect.
class ScriptedPrompt : public UserPrompt {
public:
    enum class Kind { Information, Error, Confirm, OpenFile, SaveFile, ChooseDirectory, Certificate };
    struct Shown {
        Kind kind;
        QString text;       // message text, or the dialog's title
        FileDialog dialog;  // for the file dialogs
        CertificateQuestion certificate;  // for a certificate question
    };

    void answerConfirm(bool yes) { m_confirms.enqueue(yes); }
    void answerOpenFile(const QString& path) { m_openFiles.enqueue(path); }
    void answerSaveFile(const QString& path) { m_saveFiles.enqueue(path); }
    void answerDirectory(const QString& path) { m_directories.enqueue(path); }
    void answerCertificate(CertificateAnswer answer) { m_certificates.enqueue(answer); }
    // A certificate question then keeps the event loop running this long before it is
    // answered, as a modal dialog does while the user reads it.
    void setCertificateThinkingMs(int ms) { m_certificateThinkingMs = ms; }

    const QList<Shown>& shown() const { return m_shown; }
    // Texts of the message boxes (information and error) in the order shown.
    QStringList messages() const;
    const QList<QUrl>& openedUrls() const { return m_urls; }
    int busyDepth() const { return m_busyDepth; }
    int busyCount() const { return m_busyCount; }
    void forget();

    void information(const QString& text) override;
    void error(const QString& text) override;
    bool confirm(const QString& text) override;
    QString openFile(const FileDialog& dialog) override;
    QString saveFile(const FileDialog& dialog) override;
    QString chooseDirectory(const QString& title, const QString& start) override;
    void openUrl(const QUrl& url) override;
    void setBusy(bool busy) override;
    CertificateAnswer trustCertificate(const CertificateQuestion& question) override;
    // The certificate questions asked, in order.
    QList<CertificateQuestion> certificateQuestions() const;

private:
    QQueue<bool> m_confirms;
    QQueue<QString> m_openFiles;
    QQueue<QString> m_saveFiles;
    QQueue<QString> m_directories;
    QQueue<CertificateAnswer> m_certificates;
    int m_certificateThinkingMs = 0;
    QList<Shown> m_shown;
    QList<QUrl> m_urls;
    int m_busyDepth = 0;
    int m_busyCount = 0;
};
