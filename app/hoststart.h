#pragma once

#include <QCoreApplication>
#include <QString>

// Starts the host detached with the arguments (the updater's own path, "no_check").
// Nothing is reported when it cannot be started; the result is for tests.
bool startHost(const QString &exePath,
               const QString &updaterPath = QCoreApplication::applicationFilePath());
