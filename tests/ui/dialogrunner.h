#pragma once

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <functional>

// Result of execWith() when the dialog did not end by itself in time.
constexpr int NotClosed = -1;

// Runs dialog.exec() and performs `action` once the dialog's own event loop runs. A dialog
// that has not ended `timeoutMs` after that is ended with NotClosed, so a broken dialog
// fails its test instead of hanging it.
inline int execWith(QDialog &dialog, std::function<void()> action = {}, int timeoutMs = 5000)
{
    QTimer guard;
    guard.setSingleShot(true);
    // Under Wine, a dialog ended by a key that QTest synthesized from inside its event loop
    // left exec() asleep until the next event came, though the dialog had ended. A steady
    // tick wakes the loop, as the real window system's messages do.
    QTimer tick;
    tick.start(20);
    QObject::connect(&guard, &QTimer::timeout, &dialog, [&dialog] { dialog.done(NotClosed); });
    // The guard is the context: should the dialog end before this runs, it never runs.
    QTimer::singleShot(0, &guard, [&guard, action, timeoutMs] {
        guard.start(timeoutMs);
        if (action)
            action();
    });
    return dialog.exec();
}

// What the window system sends when the user closes the window.
inline bool sendCloseRequest(QWidget &widget)
{
    QCloseEvent event;
    QCoreApplication::sendEvent(&widget, &event);
    return event.isAccepted();
}

// A key pressed as the user presses it: through the window, to whichever widget has the focus.
// Enter is the keypad's key.
inline void pressKey(QDialog &dialog, Qt::Key key)
{
    const Qt::KeyboardModifiers modifiers =
        key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
    QTest::keyClick(dialog.windowHandle(), key, modifiers);
}

// Object name of the widget that has the keyboard focus, or "(none)".
inline QString focusName()
{
    QWidget *focus = QApplication::focusWidget();
    return focus ? focus->objectName() : QStringLiteral("(none)");
}
