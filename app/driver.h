#pragma once

#include "config.h"
#include "cupdateerror.h"
#include "manifest.h"
#include "releaseverifier.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

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
// the console report, the host start and the exit code.
class UpdateDriver
{
public:
    explicit UpdateDriver(DriverSettings settings);
    ~UpdateDriver();

    int run();

private:
    enum class Mode { Windowed, Console, Restart };

    // How a step of the sequence ends the run or the attempt: a new attempt, or the exit
    // code. The exit code is never used to carry the retry.
    struct Outcome
    {
        bool retry = false;
        int exitCode = 1;
        static Outcome retryAttempt() { return {true, 1}; }
        static Outcome exitWith(int code) { return {false, code}; }
    };

    // What one attempt has fetched so far.
    struct AttemptData
    {
        UpdateDescription description;
        QByteArray list; // the MD5 list exactly as received
        Manifest pending;
        ReleaseVerifier release; // the checks of a signed release, as far as they went
    };

    Mode modeOf(const QString &text) const;
    int restart();
    int runGuarded();
    bool recoverInterruptedUpdate(int *exitCode);
    int runAttempts();
    Outcome attempt();
    bool fetchDescription(AttemptData *data, Outcome *failure);
    bool storeDescription(const QByteArray &body, AttemptData *data, Outcome *failure);
    bool fetchPending(AttemptData *data, Outcome *failure);
    bool isSigned() const { return m_config.hasPublicKey; }
    bool loadTrustSettings(QString *error);
    bool verifyDescription(const QByteArray &body, AttemptData *data, Outcome *failure);
    bool verifyRelease(AttemptData *data, Outcome *failure);
    bool verifyLists(AttemptData *data, Outcome *failure);
    void recordNothingToDo(const AttemptData &data);
    Outcome offerUpdate(const AttemptData &data);
    Outcome applyPending(const AttemptData &data);
    void waitForWorker(CDownloadThread &worker, bool showProgress);
    bool fetch(const QString &address, QByteArray *body, QString *error);

    Outcome attemptFailure(const QString &message);
    Outcome workerFailure(const QString &message, bool forced);
    int configurationError(const QString &message);
    int alreadyRunning();
    Outcome finish(int exitCode, bool withHost);

    void report(bool success, bool update, const QString &message);
    bool showConfigError(const QString &title, const QString &message);
    CUpdateError &errorDialog();
    QString recordPath() const;
    bool console() const { return m_mode == Mode::Console; }

    DriverSettings m_settings;
    std::unique_ptr<CUpdateError> m_errorDialog; // made when first shown
    QNetworkAccessManager m_manager;
    UpdateConfig m_config;
    ReleaseVerifier m_verifier; // the configured keys
    // On every request when "CaFile" is set. Absent otherwise: merely making one starts
    // OpenSSL, which a plain HTTP run never needs.
    std::optional<QSslConfiguration> m_sslConfiguration;
    Mode m_mode = Mode::Windowed;
    std::unique_ptr<InstanceGuard> m_guard;
};

// Replaces the file's content in one step (a flushed temporary file renamed over it), so
// an interruption never leaves it truncated; false when that fails.
bool writeFileBytes(const QString &path, const QByteArray &bytes);

// Everything the program does once the application object exists; returns the exit code.
int runUpdater(DriverSettings settings);
