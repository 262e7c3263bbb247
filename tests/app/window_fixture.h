#pragma once

#include "app/tform1.h"
#include "support/scripted_prompt.h"

#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

// A main window driven by a scripted user. The window is built the way the program
// builds it, web view included.
class WindowTest : public ::testing::Test {
protected:
    void open(const QString& firstArgument = QString()) {
        m_form = std::make_unique<TForm1>(m_prompt, firstArgument);
    }
    TForm1& form() { return *m_form; }

    // The control with the name, which must exist.
    template <typename W = QWidget>
    W* control(const char* name) {
        W* found = m_form->findChild<W*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    ScriptedPrompt m_prompt;
    std::unique_ptr<TForm1> m_form;
};

// Sends one key press and release to a widget, as typing would.
void typeKey(QWidget* target, int key, const QString& text = QString());
void typeText(QWidget* target, const QString& text);
