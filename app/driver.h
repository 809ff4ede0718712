#pragma once

#include "config.h"
#include "cupdateerror.h"
#include "manifest.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class CDownloadThread;
class InstanceGuard;
struct UpdateDescription;

// What the driver needs from its process; tests run it in-process with their own values.
struct DriverSettings
{
    QStringList arguments; // argv after Qt removed its own options; [0] is the program
    QString appDir = QCoreApplication::applicationDirPath();
    QString appFilePath = QCoreApplication::applicationFilePath();
    int requestTimeoutSeconds = 5;
    // Receives each console report; standard output when not set.
    std::function<void(const QByteArray &)> reportSink;
};

// The update sequence: mode, instance guard, configuration, attempts with their retries,
// the console report, the host start and the exit code.
class UpdateDriver
{
public:
    explicit UpdateDriver(DriverSettings settings);
    ~UpdateDriver();

    int run();

private:
    enum class Mode { Windowed, Console, Restart };

    int runAttempts();
    int attempt();
    int applyPending(const UpdateDescription &description, const Manifest &pending,
                     const QByteArray &list);
    void waitForWorker(CDownloadThread &worker, bool showProgress);
    bool fetch(const QString &address, QByteArray *body, QString *error);

    int attemptFailure(const QString &message);
    int workerFailure(const QString &message, bool forced);
    int configurationError(const QString &message);
    int alreadyRunning();
    int finish(int exitCode, bool withHost);

    void report(bool success, bool update, const QString &message);
    bool showConfigError(const QString &title, const QString &message);
    QString recordPath() const;
    bool console() const { return m_mode == Mode::Console; }

    DriverSettings m_settings;
    CUpdateError m_errorDialog;
    QNetworkAccessManager m_manager;
    UpdateConfig m_config;
    Mode m_mode = Mode::Windowed;
    std::unique_ptr<InstanceGuard> m_guard;
};

// Writes all bytes, creating or truncating the file; false only when it cannot be opened.
bool writeFileBytes(const QString &path, const QByteArray &bytes);

// Everything the program does once the application object exists; returns the exit code.
int runUpdater(DriverSettings settings);
