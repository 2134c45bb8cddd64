// A main-window-like window for the window tests: two fields, the second
// focused, and a Ctrl+I action of the window, as the settings editor has.
// A test opens a modal window from it and checks afterwards that the
// keyboard came back (platform/QtModalFocus.h).
#pragma once

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

namespace selvo::test {

class OpenerWindow : public QWidget {
 public:
  OpenerWindow() {
    setObjectName("opener");
    auto* layout = new QVBoxLayout(this);
    first = new QLineEdit(this);
    first->setObjectName("first");
    second = new QLineEdit(this);
    second->setObjectName("second");
    layout->addWidget(first);
    layout->addWidget(second);
    auto* insert = new QAction(this);
    insert->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    insert->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(insert, &QAction::triggered, [this] { ++inserts; });
    addAction(insert);
  }

  // Shows the window, active, with the focus in the second field.
  void ShowActive() {
    show();
    activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(this));
    second->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), second);
  }

  // The window has the keyboard: it is the active window, the field that
  // had the focus has it again, and Ctrl+I typed into the window that has
  // the platform's focus runs the window's action.
  void ExpectHasTheKeyboard() {
    EXPECT_TRUE(QTest::qWaitForWindowActive(this));
    EXPECT_EQ(QApplication::activeWindow(), this);
    EXPECT_EQ(QApplication::focusWidget(), second);
    QWindow* focused = QGuiApplication::focusWindow();
    ASSERT_EQ(focused, windowHandle());
    const int before = inserts;
    QTest::keyClick(focused, Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(inserts, before + 1) << "Ctrl+I reaches the window";
  }

  QLineEdit* first = nullptr;
  QLineEdit* second = nullptr;
  int inserts = 0;
};

}  // namespace selvo::test
