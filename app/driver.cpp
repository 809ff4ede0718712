#include "driver.h"

#include "cdownloadthread.h"
#include "compare.h"
#include "consolereport.h"
#include "cupdatenotice.h"
#include "cupdateprogress.h"
#include "dialogframe.h"
#include "hoststart.h"
#include "httprequest.h"
#include "instanceguard.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QUrl>

namespace {
// attempt() and the outcomes return an exit code, or this to start a new attempt.
constexpr int RetryAttempt = -1;
} // namespace

bool writeFileBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate))
        return false;
    file.write(bytes);
    file.close();
    return true;
}

UpdateDriver::UpdateDriver(DriverSettings settings) : m_settings(std::move(settings)) {}

UpdateDriver::~UpdateDriver() = default;

int UpdateDriver::run()
{
    m_config = loadUpdateConfig(m_settings.appDir);
    m_errorDialog.setDownloadUrl(m_config.downloadUrl);

    const QString modeText = m_settings.arguments.value(1);
    if (modeText.compare(QLatin1String("console"), Qt::CaseInsensitive) == 0)
        m_mode = Mode::Console;
    else if (modeText.compare(QLatin1String("restart"), Qt::CaseInsensitive) == 0)
        m_mode = Mode::Restart;

    if (m_mode == Mode::Restart)
        return finish(1, true);

    m_guard = std::make_unique<InstanceGuard>(m_settings.appDir);
    if (!m_guard->acquire())
        return alreadyRunning();

    if (!QUrl(m_config.url, QUrl::TolerantMode).isValid())
        return configurationError(QObject::tr("升级地址不合法:%1").arg(m_config.url));

    resolveFolders(m_config);
    return runAttempts();
}

int UpdateDriver::runAttempts()
{
    int exitCode = RetryAttempt;
    while (exitCode == RetryAttempt)
        exitCode = attempt();
    return exitCode;
}

int UpdateDriver::attempt()
{
    m_manager.clearAccessCache();
    QByteArray body;
    QString transferError;

    const QUrl descriptionUrl(m_config.url + QStringLiteral("/update.ini"), QUrl::TolerantMode);
    if (!descriptionUrl.isValid())
        return configurationError(
            QObject::tr("升级描述文件地址不合法:%1").arg(descriptionUrl.toDisplayString()));
    if (!fetch(descriptionUrl.toString(), &body, &transferError))
        return attemptFailure(QObject::tr("下载升级描述文件失败:%1").arg(transferError));

    const QString descriptionPath =
        m_config.cacheDir.absoluteFilePath(QStringLiteral("update.ini"));
    QFile descriptionFile(descriptionPath);
    if (!descriptionFile.open(QIODevice::ReadWrite | QIODevice::Truncate))
        return attemptFailure(
            QObject::tr("创建文件[%1]失败:%2").arg(descriptionPath, descriptionFile.errorString()));
    descriptionFile.write(body);
    descriptionFile.close();
    const UpdateDescription description = readUpdateDescription(descriptionPath, m_config.url);

    if (!fetch(description.listUrl, &body, &transferError))
        return attemptFailure(QObject::tr("下载更新列表文件失败:%1").arg(transferError));

    const Manifest pending = compareWithInstalled(parseManifest(body), m_config.installDir);
    const bool forced = description.updateType != 0;
    if (console())
        report(true, !pending.isEmpty() && forced, QString());
    if (pending.isEmpty()) {
        writeFileBytes(recordPath(), body);
        return finish(1, !console());
    }
    if (!forced && !console()) {
        CUpdateNotice notice;
        notice.setVersion(description.version);
        if (notice.exec() != QDialog::Accepted)
            return finish(1, true);
    }
    return applyPending(description, pending, body);
}

int UpdateDriver::applyPending(const UpdateDescription &description, const Manifest &pending,
                               const QByteArray &list)
{
    const bool forced = description.updateType != 0;
    CDownloadThread worker(description.baseUrl, m_config.cacheDir, m_config.installDir,
                           pending.values());
    waitForWorker(worker, !console() || forced);
    QObject::disconnect(&worker, nullptr, nullptr, nullptr);

    if (worker.success()) {
        writeFileBytes(recordPath(), list);
        return finish(0, !console() || forced);
    }
    return workerFailure(worker.errorText(), forced);
}

void UpdateDriver::waitForWorker(CDownloadThread &worker, bool showProgress)
{
    if (showProgress) {
        CUpdateProgress progress(&worker);
        progress.exec();
    } else {
        QObject::connect(&worker, &QThread::finished, qApp, &QCoreApplication::quit);
        worker.start(QThread::InheritPriority);
        QApplication::exec();
    }
    // `finished` is emitted just before the thread ends; make sure it has.
    worker.wait();
}

bool UpdateDriver::fetch(const QString &address, QByteArray *body, QString *error)
{
    return sendHttpRequest(&m_manager, QUrl(address), body, error, m_settings.requestTimeoutSeconds,
                           {}, QByteArrayLiteral("GET"), {}, nullptr);
}

int UpdateDriver::attemptFailure(const QString &message)
{
    if (console()) {
        report(false, false, message);
        return 1;
    }
    m_errorDialog.setError(QObject::tr("更新失败"), message, true);
    if (m_errorDialog.exec() == QDialog::Accepted)
        return RetryAttempt;
    return finish(1, true);
}

int UpdateDriver::workerFailure(const QString &message, bool forced)
{
    if (console() || !forced)
        return attemptFailure(message);
    // A forced update is retried whatever the user does.
    m_errorDialog.setError(QObject::tr("更新失败"), message, false);
    m_errorDialog.exec();
    return RetryAttempt;
}

int UpdateDriver::configurationError(const QString &message)
{
    if (console()) {
        report(false, false, message);
        return 1;
    }
    showConfigError(QObject::tr("配置错误"), message);
    return finish(1, true);
}

int UpdateDriver::alreadyRunning()
{
    const QString message = QObject::tr("升级程序已运行");
    if (console()) {
        report(false, false, message);
        return 1;
    }
    m_errorDialog.setError(QObject::tr("启动"), message, false);
    m_errorDialog.exec();
    return finish(1, true);
}

int UpdateDriver::finish(int exitCode, bool withHost)
{
    if (withHost)
        startHost(m_config.exePath, m_settings.appFilePath);
    return exitCode;
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
    m_errorDialog.setError(title, message, false);
    return m_errorDialog.exec() == QDialog::Accepted;
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
