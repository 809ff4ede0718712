#include "runoutcomes.h"

#include "consolereport.h"
#include "hoststart.h"
#include "updatelog.h"

RunOutcomes::RunOutcomes(RunMode mode, QString appFilePath,
                         std::function<void(const QByteArray &)> reportSink)
    : m_mode(mode), m_appFilePath(std::move(appFilePath)), m_reportSink(std::move(reportSink))
{}

RunOutcomes::~RunOutcomes() = default;

void RunOutcomes::configure(const UpdateConfig &config)
{
    m_exePath = config.exePath;
    m_downloadUrl = config.downloadUrl;
}

Outcome RunOutcomes::attemptFailure(const QString &message)
{
    return failure(message, true);
}

Outcome RunOutcomes::recoveryFailure(const QString &message)
{
    return failure(message, false);
}

Outcome RunOutcomes::failure(const QString &message, bool hostOnGivingUp)
{
    qCInfo(lcRun, "failed: %s", qUtf8Printable(message));
    if (console()) {
        report(false, false, message);
        return Outcome::exitWith(1);
    }
    errorDialog().setError(QObject::tr("更新失败"), message, true);
    if (errorDialog().exec() == QDialog::Accepted) {
        qCInfo(lcRun, "the user tries again");
        return Outcome::retryAttempt();
    }
    return finish(1, hostOnGivingUp);
}

Outcome RunOutcomes::workerFailure(const QString &message, bool forced)
{
    if (console() || !forced)
        return attemptFailure(message);
    qCInfo(lcRun, "failed: %s; a forced update is tried again", qUtf8Printable(message));
    errorDialog().setError(QObject::tr("更新失败"), message, false);
    errorDialog().exec(); // whatever the user does
    return Outcome::retryAttempt();
}

int RunOutcomes::configurationError(const QString &message)
{
    qCInfo(lcRun, "configuration error: %s", qUtf8Printable(message));
    if (console()) {
        report(false, false, message);
        return 1;
    }
    errorDialog().setError(QObject::tr("配置错误"), message, false);
    errorDialog().exec(); // the dialog only informs: it has no button to choose
    return finish(1, true).exitCode;
}

int RunOutcomes::alreadyRunning()
{
    const QString message = QObject::tr("升级程序已运行");
    if (console()) {
        report(false, false, message);
        return 1;
    }
    errorDialog().setError(QObject::tr("启动"), message, false);
    errorDialog().exec(); // the dialog only informs: it has no button to choose
    return finish(1, true).exitCode;
}

Outcome RunOutcomes::finish(int exitCode, bool withHost)
{
    qCInfo(lcRun, "done, exit code %d%s", exitCode, withHost ? ", host started" : "");
    if (withHost)
        startHost(m_exePath, m_appFilePath); // a host that does not start is not reported
    return Outcome::exitWith(exitCode);
}

void RunOutcomes::report(bool success, bool update, const QString &message)
{
    if (m_reportSink)
        m_reportSink(consoleReportBytes(success, update, message));
    else
        printConsoleReport(success, update, message);
}

// Made on first use: a run that shows no dialog loads no fonts and no style.
CUpdateError &RunOutcomes::errorDialog()
{
    if (!m_errorDialog) {
        m_errorDialog = std::make_unique<CUpdateError>();
        m_errorDialog->setDownloadUrl(m_downloadUrl);
    }
    return *m_errorDialog;
}
