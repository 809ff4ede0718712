#pragma once

#include "config.h"
#include "logfile.h"
#include "manifest.h"
#include "releasefetch.h"
#include "runmode.h"
#include "runoutcomes.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class CDownloadThread;
class InstanceGuard;

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
// and what each attempt leads to (RunOutcomes shows it and ends the run).
class UpdateDriver
{
public:
    explicit UpdateDriver(DriverSettings settings);
    ~UpdateDriver();

    int run();

private:
    // What one attempt has fetched, and the entries that differ from the installation.
    struct Attempt
    {
        FetchedRelease fetched;
        Manifest pending;
        QMap<QString, QByteArray> installedMd5; // what is installed at each pending path
        bool forced() const { return fetched.description.updateType != 0; }
    };

    int restart();
    int runGuarded();
    bool recoverInterruptedUpdate(int *exitCode);
    void openLog(const QDir &cacheDir);
    int runAttempts();
    Outcome attempt();
    void recordNothingToDo(const Attempt &attempt);
    Outcome offerUpdate(const Attempt &attempt);
    Outcome applyPending(const Attempt &attempt);
    void waitForWorker(CDownloadThread &worker, bool showProgress);

    DriverSettings m_settings;
    UpdateLog m_log; // first, so that it holds every line of the run
    QNetworkAccessManager m_manager;
    UpdateConfig m_config;
    RunMode m_mode = RunMode::Windowed;
    std::unique_ptr<RunOutcomes> m_outcomes;
    ReleaseFetch m_fetch;
    std::unique_ptr<InstanceGuard> m_guard;
};

// Everything the program does once the application object exists; returns the exit code.
int runUpdater(DriverSettings settings);
