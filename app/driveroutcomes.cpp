// How the driver ends an attempt or the run: dialogs, reports and the host start.
#include "driver.h"

#include "consolereport.h"
#include "dialogframe.h"
#include "hoststart.h"

#include <QApplication>
#include <QIcon>

UpdateDriver::Outcome UpdateDriver::attemptFailure(const QString &message)
{
    if (console()) {
        report(false, false, message);
        return Outcome::exitWith(1);
    }
    errorDialog().setError(QObject::tr("更新失败"), message, true);
    if (errorDialog().exec() == QDialog::Accepted)
        return Outcome::retryAttempt();
    return finish(1, true);
}

UpdateDriver::Outcome UpdateDriver::workerFailure(const QString &message, bool forced)
{
    if (console() || !forced)
        return attemptFailure(message);
    // A forced update is retried whatever the user does.
    errorDialog().setError(QObject::tr("更新失败"), message, false);
    errorDialog().exec();
    return Outcome::retryAttempt();
}

int UpdateDriver::configurationError(const QString &message)
{
    if (console()) {
        report(false, false, message);
        return 1;
    }
    showConfigError(QObject::tr("配置错误"), message);
    return finish(1, true).exitCode;
}

int UpdateDriver::alreadyRunning()
{
    const QString message = QObject::tr("升级程序已运行");
    if (console()) {
        report(false, false, message);
        return 1;
    }
    errorDialog().setError(QObject::tr("启动"), message, false);
    errorDialog().exec();
    return finish(1, true).exitCode;
}

UpdateDriver::Outcome UpdateDriver::finish(int exitCode, bool withHost)
{
    if (withHost)
        startHost(m_config.exePath, m_settings.appFilePath);
    return Outcome::exitWith(exitCode);
}

void UpdateDriver::report(bool success, bool update, const QString &message)
{
    if (m_settings.reportSink)
        m_settings.reportSink(consoleReportBytes(success, update, message));
    else
        printConsoleReport(success, update, message);
}

bool UpdateDriver::showConfigError(const QString &title, const QString &message)
{
    errorDialog().setError(title, message, false);
    return errorDialog().exec() == QDialog::Accepted;
}

// Made on first use: a run that shows no dialog loads no fonts and no style.
CUpdateError &UpdateDriver::errorDialog()
{
    if (!m_errorDialog) {
        m_errorDialog = std::make_unique<CUpdateError>();
        m_errorDialog->setDownloadUrl(m_config.downloadUrl);
    }
    return *m_errorDialog;
}

QString UpdateDriver::recordPath() const
{
    return m_config.installDir.absoluteFilePath(QStringLiteral("update_md5.info"));
}

int runUpdater(DriverSettings settings)
{
    initUiResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icon")));
    UpdateDriver driver(std::move(settings));
    return driver.run();
}
