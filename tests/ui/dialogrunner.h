#pragma once

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QTimer>

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
