#include "window_fixture.h"

#include <QApplication>
#include <QKeyEvent>

void typeKey(QWidget* target, int key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

void typeText(QWidget* target, const QString& text) {
    for (QChar c : text)
        typeKey(target, c.isDigit() ? Qt::Key_0 + c.digitValue() : c.unicode(), QString(c));
}
