#pragma once

#include "config.h"
#include "cupdateerror.h"
#include "runmode.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

// How a step of the sequence ends the run or the attempt: a new attempt, or the exit code.
// The exit code is never used to carry the retry.
struct Outcome
{
    bool retry = false;
    int exitCode = 1;
    static Outcome retryAttempt() { return {true, 1}; }
    static Outcome exitWith(int code) { return {false, code}; }
};

// The ways a run or an attempt ends, as the mode shows them: the console report, the error
// dialog with or without its buttons, and the host start.
class RunOutcomes
{
public:
    // `reportSink` receives each console report; standard output when not set.
    RunOutcomes(RunMode mode, QString appFilePath,
                std::function<void(const QByteArray &)> reportSink);
    ~RunOutcomes();

    // The host to start and the download page to offer, from the configuration.
    void configure(const UpdateConfig &config);

    Outcome attemptFailure(const QString &message);
    // An interrupted update that can be neither finished nor undone: as a failed attempt,
    // but a user who gives up gets no host started on what may be two versions.
    Outcome recoveryFailure(const QString &message);
    Outcome workerFailure(const QString &message, bool forced);
    int configurationError(const QString &message);
    int alreadyRunning();
    // Starts the host when asked to, as the run's last action.
    Outcome finish(int exitCode, bool withHost);
    void report(bool success, bool update, const QString &message);

    bool console() const { return m_mode == RunMode::Console; }

private:
    Outcome failure(const QString &message, bool hostOnGivingUp);
    CUpdateError &errorDialog();

    RunMode m_mode;
    QString m_appFilePath;
    std::function<void(const QByteArray &)> m_reportSink;
    QString m_exePath;
    QString m_downloadUrl;
    std::unique_ptr<CUpdateError> m_errorDialog; // made when first shown
};
