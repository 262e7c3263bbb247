// The FTP log pane and the large log window.
#include "window_fixture.h"

#include "app/log_pane.h"
#include "app/tformlargeftp.h"
#include "common/text_log.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QTimer>

namespace {

class LogWindowTest : public WindowTest {
protected:
    void SetUp() override {
        open();
        m_large = new TFormLargeFTP(&form());
        form().setLargeFtpWindow(m_large);
    }
    // Opens the large window from the popup menu; `whileOpen` runs inside the modal
    // loop, then the window is closed. Returns what the large pane showed.
    QString openLarge(const std::function<void()>& whileOpen = {}) {
        QString shown;
        bool wasVisible = false;
        QTimer::singleShot(0, m_large, [&] {
            wasVisible = m_large->isVisible();
            if (whileOpen)
                whileOpen();
            shown = m_large->relargeftp()->toPlainText();
            m_large->reject();
        });
        // A window that never opens would hang the test; this bounds it.
        QTimer::singleShot(10000, m_large, [&] { m_large->reject(); });
        form().findChild<QAction*>("OpeninLargeWindow1")->trigger();
        EXPECT_TRUE(wasVisible);
        EXPECT_TRUE(m_large->isModal() || wasVisible);
        return shown;
    }
    TFormLargeFTP* m_large = nullptr;
};

}  // namespace

TEST_F(LogWindowTest, LargeWindowIsTheFtpInformationWindow) {
    EXPECT_EQ(m_large->windowTitle(), "FTP Information");
    EXPECT_EQ(m_large->size(), QSize(623, 417));
    EXPECT_TRUE(m_large->relargeftp()->isReadOnly());
    EXPECT_FALSE(m_large->isVisible());
}

TEST_F(LogWindowTest, DisplayAppendsLinesAndClearEmpties) {
    form().Display("> USER anonymous");
    form().Display("< 331 Password required");
    EXPECT_EQ(form().Memo1->toPlainText(), "> USER anonymous\n< 331 Password required");
    form().findChild<QAction*>("Clear1")->trigger();
    EXPECT_EQ(form().Memo1->toPlainText(), "");
    EXPECT_EQ(form().ftpLog()->count(), 0);
    // The core appends through the log, without the window.
    form().ftpLog()->append("Connect Attempt # 1");
    EXPECT_EQ(form().Memo1->toPlainText(), "Connect Attempt # 1");
}

// Every message is one new line of the pane, an empty one included, wherever it falls;
// the large window shows the same lines.
TEST_F(LogWindowTest, EveryMessageIsOneLineEmptyOnesToo) {
    const QList<QStringList> rows = {
        {""}, {"", ""}, {"", "x"}, {"", "", "x"}, {"a", ""}, {"a", "", "b"}, {"a", "", "", "b"}, {"", "a", ""},
    };
    for (const QStringList& messages : rows) {
        form().Clear1Click();
        for (const QString& msg : messages)
            form().Display(msg);
        const QString text = messages.join('\n');
        EXPECT_EQ(form().Memo1->toPlainText(), text) << messages.join('|').toStdString();
        EXPECT_EQ(form().Memo1->blockCount(), messages.size()) << messages.join('|').toStdString();
        EXPECT_EQ(openLarge(), text) << messages.join('|').toStdString();
        EXPECT_EQ(m_large->relargeftp()->blockCount(), messages.size());
    }
    // A pane bound to a log that already holds lines shows them the same way.
    form().Clear1Click();
    form().Display("");
    form().Display("after");
    QPlainTextEdit late;
    BindLogPane(&late, form().ftpLog());
    EXPECT_EQ(late.toPlainText(), "\nafter");
    form().Display("");
    EXPECT_EQ(late.blockCount(), 3);
}

TEST_F(LogWindowTest, LargeWindowShowsASnapshot) {
    form().Display("first");
    form().Display("second");
    EXPECT_EQ(openLarge([&] { form().Display("while open"); }), "first\nsecond");
    EXPECT_FALSE(m_large->isVisible());
    EXPECT_EQ(form().Memo1->toPlainText(), "first\nsecond\nwhile open");
    // Opened again, it starts from an empty pane and takes the log as it is now.
    EXPECT_EQ(openLarge(), "first\nsecond\nwhile open");
}

TEST_F(LogWindowTest, EmptyLogOpensAnEmptyLargeWindow) {
    EXPECT_EQ(openLarge(), "");
}
