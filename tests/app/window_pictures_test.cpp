// Pictures of every page, for a person to look at: each page is grabbed into a PNG in a
// temporary folder whose path is printed (kept after the run when PW_KEEP_PAGE_PICTURES
// is set, removed otherwise). The test checks only what a picture can
// show without eyes: every shown control of a page lies inside the window.
#include "window_fixture.h"

#include <QDir>
#include <QPixmap>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>

TEST_F(WindowTest, EveryPageGrabsAndItsControlsFitTheWindow) {
    open();
    QTemporaryDir dir(QDir::tempPath() + "/parcelwick-pages-XXXXXX");
    dir.setAutoRemove(qEnvironmentVariableIsEmpty("PW_KEEP_PAGE_PICTURES"));
    ASSERT_TRUE(dir.isValid());
    form().show();
    QTabBar* tabs = form().PageControl1->tabBar();
    EXPECT_LE(tabs->tabRect(tabs->count() - 1).right(), form().PageControl1->width()) << "captions need scrolling";
    for (int i = 0; i < form().PageControl1->count(); ++i) {
        form().PageControl1->setCurrentIndex(i);
        QWidget* page = form().PageControl1->widget(i);
        const QPixmap picture = form().grab();
        EXPECT_EQ(picture.size(), form().size());
        const QString path = dir.filePath(QString("page%1.png").arg(i + 1));
        ASSERT_TRUE(picture.save(path));
        std::printf("page %d: %s\n", i + 1, qPrintable(path));
        const QRect inside = page->rect();
        for (QWidget* w : page->findChildren<QWidget*>()) {
            if (w->isHidden() || !w->parentWidget() || w->parentWidget() != page)
                continue;
            EXPECT_TRUE(inside.contains(w->geometry()))
                << "page " << i + 1 << ": " << w->objectName().toStdString() << " leaves the page";
        }
    }
}
