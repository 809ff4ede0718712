#include "driver.h"

#include "applytransaction.h"
#include "cdownloadthread.h"
#include "compare.h"
#include "cupdatenotice.h"
#include "cupdateprogress.h"
#include "fileops.h"
#include "httprequest.h"
#include "instanceguard.h"

#include <QApplication>
#include <QFile>
#include <QUrl>

bool writeFileBytes(const QString &path, const QByteArray &bytes)
{
    return fileops::writeAtomically(path, bytes);
}

UpdateDriver::UpdateDriver(DriverSettings settings) : m_settings(std::move(settings)) {}

UpdateDriver::~UpdateDriver() = default;

int UpdateDriver::run()
{
    m_config = loadUpdateConfig(m_settings.appDir);
    m_mode = modeOf(m_settings.arguments.value(1));
    if (m_mode == Mode::Restart)
        return restart();

    m_guard = std::make_unique<InstanceGuard>(m_settings.appDir);
    if (!m_guard->acquire())
        return alreadyRunning();
    return runGuarded();
}

UpdateDriver::Mode UpdateDriver::modeOf(const QString &text) const
{
    if (text.compare(QLatin1String("console"), Qt::CaseInsensitive) == 0)
        return Mode::Console;
    if (text.compare(QLatin1String("restart"), Qt::CaseInsensitive) == 0)
        return Mode::Restart;
    return Mode::Windowed;
}

// Only starts the host; but never on a half-applied update that no live updater is
// working on. The guard is taken only when there is such an update to finish.
int UpdateDriver::restart()
{
    const QDir installDir = installFolderOf(m_config);
    if (UpdateJournal::existsIn(installDir)) {
        InstanceGuard guard(m_settings.appDir);
        QString error;
        if (guard.acquire())
            ApplyTransaction::recoverIn(installDir, &error);
    }
    return finish(1, true).exitCode;
}

int UpdateDriver::runGuarded()
{
    int exitCode = 1;
    if (!recoverInterruptedUpdate(&exitCode))
        return exitCode;
    if (!QUrl(m_config.url, QUrl::TolerantMode).isValid())
        return configurationError(QObject::tr("升级地址不合法:%1").arg(m_config.url));
    QString trustError;
    if (!loadTrustSettings(&trustError))
        return configurationError(trustError);
    resolveFolders(m_config);
    return runAttempts();
}

// An update that an earlier run left half done is finished or undone before anything
// else. When that fails it counts as a failed attempt, and a retry tries again.
bool UpdateDriver::recoverInterruptedUpdate(int *exitCode)
{
    for (;;) {
        QString error;
        if (ApplyTransaction::recoverIn(installFolderOf(m_config), &error))
            return true;
        const Outcome outcome = attemptFailure(error);
        if (!outcome.retry) {
            *exitCode = outcome.exitCode;
            return false;
        }
    }
}

int UpdateDriver::runAttempts()
{
    Outcome outcome = attempt();
    while (outcome.retry)
        outcome = attempt();
    return outcome.exitCode;
}

UpdateDriver::Outcome UpdateDriver::attempt()
{
    m_manager.clearAccessCache();
    AttemptData data;
    data.release = m_verifier;
    Outcome failure;
    if (!fetchDescription(&data, &failure) || !fetchPending(&data, &failure))
        return failure;
    return offerUpdate(data);
}

bool UpdateDriver::fetchDescription(AttemptData *data, Outcome *failure)
{
    const QUrl descriptionUrl(m_config.url + QStringLiteral("/update.ini"), QUrl::TolerantMode);
    if (!descriptionUrl.isValid()) {
        *failure = Outcome::exitWith(configurationError(
            QObject::tr("升级描述文件地址不合法:%1").arg(descriptionUrl.toDisplayString())));
        return false;
    }
    QByteArray body;
    QString transferError;
    if (!fetch(descriptionUrl.toString(), &body, &transferError)) {
        *failure = attemptFailure(QObject::tr("下载升级描述文件失败:%1").arg(transferError));
        return false;
    }
    if (isSigned() && !verifyDescription(body, data, failure))
        return false;
    return storeDescription(body, data, failure) && (!isSigned() || verifyRelease(data, failure));
}

bool UpdateDriver::storeDescription(const QByteArray &body, AttemptData *data, Outcome *failure)
{
    const QString path = m_config.cacheDir.absoluteFilePath(QStringLiteral("update.ini"));
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        *failure = attemptFailure(QObject::tr("创建文件[%1]失败:%2").arg(path, file.errorString()));
        return false;
    }
    file.write(body);
    file.close();
    data->description = readUpdateDescription(path, m_config.url);
    return true;
}

bool UpdateDriver::fetchPending(AttemptData *data, Outcome *failure)
{
    QString transferError;
    if (!fetch(data->description.listUrl, &data->list, &transferError)) {
        *failure = attemptFailure(QObject::tr("下载更新列表文件失败:%1").arg(transferError));
        return false;
    }
    if (isSigned() && !verifyLists(data, failure))
        return false;
    data->pending = compareWithInstalled(parseManifest(data->list), m_config.installDir);
    return true;
}

// Reports, records "nothing to do", or asks before an optional update.
UpdateDriver::Outcome UpdateDriver::offerUpdate(const AttemptData &data)
{
    const bool forced = data.description.updateType != 0;
    if (console())
        report(true, !data.pending.isEmpty() && forced, QString());
    if (data.pending.isEmpty()) {
        recordNothingToDo(data);
        return finish(1, !console());
    }
    if (!forced && !console()) {
        CUpdateNotice notice;
        notice.setVersion(data.description.version);
        if (notice.exec() != QDialog::Accepted)
            return finish(1, true);
    }
    return applyPending(data);
}

// The worker records the list itself as the last step of its commit.
UpdateDriver::Outcome UpdateDriver::applyPending(const AttemptData &data)
{
    const bool forced = data.description.updateType != 0;
    DownloadOptions options;
    options.record = data.list;
    options.release = data.release;
    options.sslConfiguration = m_sslConfiguration;
    options.connections = m_config.connections;
    CDownloadThread worker(data.description.baseUrl, m_config.cacheDir, m_config.installDir,
                           data.pending.values(), options);
    waitForWorker(worker, !console() || forced);
    QObject::disconnect(&worker, nullptr, nullptr, nullptr);
    if (worker.success())
        return finish(0, !console() || forced);
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
                           {}, QByteArrayLiteral("GET"), {}, nullptr,
                           m_sslConfiguration ? &*m_sslConfiguration : nullptr);
}
