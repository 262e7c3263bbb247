// What the window's own controls do: limits, navigation, options, shell actions,
// help, close and exit.
#include "window_fixture.h"

#include "app/limit_spin_box.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QSet>
#include <functional>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTreeView>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

namespace {

// Types a number over the whole text of a spin box, as a user would.
void typeInto(QSpinBox* box, const QString& digits) {
    QLineEdit* line = box->findChild<QLineEdit*>();
    line->selectAll();
    typeText(line, digits);
    typeKey(line, Qt::Key_Return, "\r");
}

struct TypedRow {
    const char* box;
    const char* typed;
    int expected;
};

}  // namespace

TEST_F(WindowTest, TypedNumbersStayWithinLimits) {
    open();
    const TypedRow rows[] = {
        {"sdl", "5", 2},   {"sdl", "1", 1},           {"sdl", "0", 0},
        {"splitnumber", "1001", 1000}, {"splitnumber", "7", 7}, {"seto", "5000", 1000},
    };
    for (const TypedRow& row : rows) {
        auto* box = control<LimitSpinBox>(row.box);
        box->setEnabled(true);
        box->setValue(box->minimum() == 0 ? 1 : box->minimum() + 1);
        typeInto(box, row.typed);
        EXPECT_EQ(box->value(), row.expected) << row.box << " typed " << row.typed;
    }
    // Below the lower limit nothing is taken.
    form().splitnumber->setValue(4);
    form().splitnumber->setValue(0);
    EXPECT_EQ(form().splitnumber->value(), 1);
}

TEST_F(WindowTest, NextLeadsFromPageTwoToThreeToFour) {
    open();
    form().findChild<QAction*>("ParcelwickWizard1")->trigger();
    EXPECT_EQ(form().PageControl1->currentIndex(), 1);
    control<QPushButton>("Button8")->click();
    EXPECT_EQ(form().PageControl1->currentIndex(), 2);
    control<QPushButton>("btnNext2")->click();
    EXPECT_EQ(form().PageControl1->currentIndex(), 3);
}

TEST_F(WindowTest, EnableOptionsUnlocksEditingAndKeepsValues) {
    open();
    QWidget* locked[] = {control("Label12"),       control("seto"),          control("Label13"),
                         control("seda"),          control("lbminspeed"),    control("seminspeed"),
                         control("cbresume"),      control("lbconnections"), control("seconnections"),
                         control("lbperhost"),     control("seperhost")};
    form().seto->setEnabled(true);
    form().seto->setValue(45);
    form().seto->setEnabled(false);
    form().cbenableoptions->click();
    for (QWidget* w : locked)
        EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
    form().cbenableoptions->click();
    for (QWidget* w : locked)
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_EQ(form().seto->value(), 45);
    EXPECT_EQ(form().seda->value(), 100);
}

TEST_F(WindowTest, ShellActionsHandTheirTargetsToTheDesktop) {
    open();
    const QUrl help = QUrl::fromLocalFile(form().helpFile());
    struct Row {
        std::function<void()> act;
        QUrl expected;
    };
    const Row rows[] = {
        {[&] { form().btnHelp->click(); }, help},
        {[&] { form().findChild<QAction*>("ParcelwickHelp1")->trigger(); }, help},
        {[&] { form().btnBuyNow->click(); }, QUrl("https://www.parcelwick.example/pro.html")},
        {[&] { form().Label14Click(); }, QUrl("https://www.parcelwick.example/")},
        {[&] { form().Label15Click(); }, QUrl("mailto:support@parcelwick.example")},
    };
    for (const Row& row : rows) {
        m_prompt.forget();
        row.act();
        ASSERT_EQ(m_prompt.openedUrls().size(), 1);
        EXPECT_EQ(m_prompt.openedUrls()[0], row.expected);
    }
}

TEST_F(WindowTest, LinkLabelsOpenOnClick) {
    open();
    QLabel* web = control<QLabel>("Label14");
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(3, 3), web->mapToGlobal(QPointF(3, 3)), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(web, &release);
    ASSERT_EQ(m_prompt.openedUrls().size(), 1);
    EXPECT_EQ(m_prompt.openedUrls()[0].scheme(), "https");
    EXPECT_EQ(web->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(WindowTest, F1OpensHelpAtTheControlsContext) {
    open();
    struct Row {
        const char* name;
        QString fragment;
    };
    const Row rows[] = {{"sdl", "options"},      {"cbonhd", "options"}, {"cbautomerge", "options"},
                        {"dedir", "options"},    {"cbcrcretry", "options"}, {"btnLoadpwq", ""},
                        {"Edit1", ""},           {"seto", ""}};
    for (const Row& row : rows) {
        m_prompt.forget();
        QWidget* target = control(row.name);
        // A spin box hands its keys to its inner line edit; F1 must still find the box.
        if (auto* box = qobject_cast<QSpinBox*>(target))
            target = box->findChild<QLineEdit*>();
        typeKey(target, Qt::Key_F1);
        ASSERT_EQ(m_prompt.openedUrls().size(), 1) << row.name;
        const QUrl url = m_prompt.openedUrls()[0];
        EXPECT_EQ(url.toLocalFile(), form().helpFile()) << row.name;
        EXPECT_EQ(url.fragment(), row.fragment) << row.name;
    }
}

TEST_F(WindowTest, CloseAbortsFtpButExitDoesNot) {
    open();
    // Exit ends the application's own event loop, as in the program.
    QTimer::singleShot(0, &form(), [&] { form().findChild<QAction*>("Exit1")->trigger(); });
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    bound.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_FALSE(form().ftpAborted());

    QCloseEvent close;
    QCoreApplication::sendEvent(&form(), &close);
    EXPECT_TRUE(close.isAccepted());
    EXPECT_TRUE(form().ftpAborted());
}

TEST_F(WindowTest, AboutShowsOneInformationBox) {
    open();
    form().findChild<QAction*>("About1")->trigger();
    ASSERT_EQ(m_prompt.shown().size(), 1);
    EXPECT_EQ(m_prompt.shown()[0].kind, ScriptedPrompt::Kind::Information);
    EXPECT_TRUE(m_prompt.shown()[0].text.startsWith("Parcelwick"));
}

// The save-path chooser starts in the program's folder; Browse's file dialog does not
// (it opens where the desktop's dialog opens by default).
TEST_F(WindowTest, SavePathChooserStartsInTheProgramFolderAndAlwaysEndsWithSlash) {
    open();
    const QString before = form().dedir->text();
    form().dedirBrowse->click();  // cancelled
    EXPECT_EQ(form().dedir->text(), before);
    form().Button1->click();  // cancelled
    ASSERT_EQ(m_prompt.shown().size(), 2);
    EXPECT_EQ(m_prompt.shown()[0].kind, ScriptedPrompt::Kind::ChooseDirectory);
    EXPECT_EQ(m_prompt.shown()[0].dialog.directory, QCoreApplication::applicationDirPath() + "/");
    EXPECT_EQ(m_prompt.shown()[1].kind, ScriptedPrompt::Kind::OpenFile);
    EXPECT_EQ(m_prompt.shown()[1].dialog.directory, QString());
    m_prompt.answerDirectory("/srv/incoming");
    form().dedirBrowse->click();
    EXPECT_EQ(form().dedir->text(), "/srv/incoming/");
    m_prompt.answerDirectory("/srv/other/");
    form().dedirBrowse->click();
    EXPECT_EQ(form().dedir->text(), "/srv/other/");
}

TEST_F(WindowTest, IconJigglesAtMostFivePixelsSideways) {
    open();
    QLabel* icon = control<QLabel>("imgdicon");
    const QPoint start = icon->pos();
    QSet<int> steps;
    for (int i = 0; i < 200; ++i) {
        const QPoint before = icon->pos();
        QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), icon->mapToGlobal(QPointF(5, 5)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(icon, &move);
        const int step = icon->x() - before.x();
        EXPECT_GE(step, -5);
        EXPECT_LE(step, 5);
        EXPECT_EQ(icon->y(), start.y());
        steps.insert(step);
    }
    // 200 uniform draws of eleven steps: all but a few must have turned up.
    EXPECT_GE(steps.size(), 8);
}

TEST_F(WindowTest, RightClickOpensThePopupMenuOfEachPane) {
    open();
    form().show();
    const std::pair<QWidget*, const char*> owners[] = {
        {form().lvfiles, "PopupMenu1"}, {form().lvdl, "PopupMenu2"}, {form().Memo1, "PopupMenuFTP"}};
    for (const auto& [owner, menuName] : owners) {
        QMenu* menu = control<QMenu>(menuName);
        EXPECT_FALSE(menu->isVisible()) << menuName;
        emit owner->customContextMenuRequested(QPoint(10, 10));
        EXPECT_TRUE(menu->isVisible()) << menuName;
        menu->hide();
    }
}
