#include "support/scripted_prompt.h"

#include "support/event_wait.h"

QStringList ScriptedPrompt::messages() const {
    QStringList texts;
    for (const Shown& s : m_shown)
        if (s.kind == Kind::Information || s.kind == Kind::Error)
            texts << s.text;
    return texts;
}

void ScriptedPrompt::forget() {
    m_shown.clear();
    m_urls.clear();
}

void ScriptedPrompt::information(const QString& text) { m_shown.append({Kind::Information, text, {}}); }

void ScriptedPrompt::error(const QString& text) { m_shown.append({Kind::Error, text, {}}); }

bool ScriptedPrompt::confirm(const QString& text) {
    m_shown.append({Kind::Confirm, text, {}});
    return m_confirms.isEmpty() ? false : m_confirms.dequeue();
}

QString ScriptedPrompt::openFile(const FileDialog& dialog) {
    m_shown.append({Kind::OpenFile, dialog.title, dialog});
    return m_openFiles.isEmpty() ? QString() : m_openFiles.dequeue();
}

QString ScriptedPrompt::saveFile(const FileDialog& dialog) {
    m_shown.append({Kind::SaveFile, dialog.title, dialog});
    return m_saveFiles.isEmpty() ? QString() : m_saveFiles.dequeue();
}

QString ScriptedPrompt::chooseDirectory(const QString& title, const QString& start) {
    FileDialog d;
    d.title = title;
    d.directory = start;
    m_shown.append({Kind::ChooseDirectory, title, d});
    return m_directories.isEmpty() ? QString() : m_directories.dequeue();
}

CertificateAnswer ScriptedPrompt::trustCertificate(const CertificateQuestion& question) {
    m_shown.append({Kind::Certificate, CertificateQuestionText(question), {}, question});
    if (m_certificateThinkingMs > 0)
        runLoopFor(m_certificateThinkingMs);
    return m_certificates.isEmpty() ? CertificateAnswer::No : m_certificates.dequeue();
}

QList<CertificateQuestion> ScriptedPrompt::certificateQuestions() const {
    QList<CertificateQuestion> asked;
    for (const Shown& s : m_shown)
        if (s.kind == Kind::Certificate)
            asked << s.certificate;
    return asked;
}

void ScriptedPrompt::openUrl(const QUrl& url) { m_urls.append(url); }

void ScriptedPrompt::setBusy(bool busy) {
    if (busy) {
        ++m_busyDepth;
        ++m_busyCount;
    } else {
        --m_busyDepth;
    }
}
