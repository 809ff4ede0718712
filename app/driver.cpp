#include "driver.h"

#include "appliedsequence.h"
#include "applytransaction.h"
#include "cdownloadthread.h"
#include "compare.h"
#include "cupdatenotice.h"
#include "cupdateprogress.h"
#include "dialogframe.h"
#include "fileops.h"
#include "instanceguard.h"
#include "updatelog.h"
#include "updatenames.h"

#include <QApplication>
#include <QIcon>
#include <QUrl>

UpdateDriver::UpdateDriver(DriverSettings settings)
    : m_settings(std::move(settings)),
      m_fetch(&m_manager, m_config, m_settings.requestTimeoutSeconds)
{}

UpdateDriver::~UpdateDriver() = default;

int UpdateDriver::run()
{
    m_config = loadUpdateConfig(m_settings.appDir);
    m_mode = runModeOf(m_settings.arguments.value(1));
    m_outcomes =
        std::make_unique<RunOutcomes>(m_mode, m_settings.appFilePath, m_settings.reportSink);
    m_outcomes->configure(m_config);
    qCInfo(lcRun, "update in %s mode, program folder %s",
           m_mode == RunMode::Console ? "console"
                                      : (m_mode == RunMode::Restart ? "restart" : "windowed"),
           qUtf8Printable(m_settings.appDir));
    if (m_mode == RunMode::Restart)
        return restart();

    m_guard = std::make_unique<InstanceGuard>(m_settings.appDir);
    if (!m_guard->acquire())
        return m_outcomes->alreadyRunning();
    return runGuarded();
}

// Only starts the host; but never on a half-applied update that no live updater is
// working on. The guard is taken only when there is such an update to finish.
int UpdateDriver::restart()
{
    const QDir installDir = installFolderOf(m_config);
    if (UpdateJournal::existsIn(installDir)) {
        InstanceGuard guard(m_settings.appDir);
        if (guard.acquire()) {
            const QDir cacheDir = cacheFolderOf(m_config);
            if (cacheDir.exists()) // restart mode creates no folder of its own
                openLog(cacheDir);
            QString error;
            // The journal stays for the next run, which reports it; the host is not started
            // on an installation that may hold two versions.
            if (!ApplyTransaction::recoverIn(installDir, cacheDir, &error)) {
                qCInfo(lcRun, "failed: %s", qUtf8Printable(error));
                return m_outcomes->finish(1, false).exitCode;
            }
        }
    }
    return m_outcomes->finish(1, true).exitCode;
}

int UpdateDriver::runGuarded()
{
    int exitCode = 1;
    if (!recoverInterruptedUpdate(&exitCode))
        return exitCode;
    if (!QUrl(m_config.url, QUrl::TolerantMode).isValid())
        return m_outcomes->configurationError(QObject::tr("升级地址不合法:%1").arg(m_config.url));
    QString trustError;
    if (!m_fetch.configure(&trustError))
        return m_outcomes->configurationError(trustError);
    resolveFolders(m_config);
    openLog(m_config.cacheDir);
    const QUrl descriptionUrl(UpdateNames::descriptionUrl(m_config.url), QUrl::TolerantMode);
    if (!descriptionUrl.isValid())
        return m_outcomes->configurationError(
            QObject::tr("升级描述文件地址不合法:%1").arg(descriptionUrl.toDisplayString()));
    return runAttempts();
}

// An update that an earlier run left half done is finished or undone before anything
// else. When that fails it counts as a failed attempt, and a retry tries again; a user who
// gives up gets no host started on an installation that may hold two versions.
bool UpdateDriver::recoverInterruptedUpdate(int *exitCode)
{
    for (;;) {
        QString error;
        if (ApplyTransaction::recoverIn(installFolderOf(m_config), cacheFolderOf(m_config), &error))
            return true;
        const Outcome outcome = m_outcomes->recoveryFailure(error);
        if (!outcome.retry) {
            *exitCode = outcome.exitCode;
            return false;
        }
    }
}

// A log that cannot be written costs its lines, never the update.
void UpdateDriver::openLog(const QDir &cacheDir)
{
    m_log.open(cacheDir.absoluteFilePath(UpdateNames::logFolder()));
}

int UpdateDriver::runAttempts()
{
    Outcome outcome = attempt();
    while (outcome.retry)
        outcome = attempt();
    return outcome.exitCode;
}

Outcome UpdateDriver::attempt()
{
    m_manager.clearAccessCache();
    Attempt attempt;
    QString error;
    if (!m_fetch.fetchDescription(&attempt.fetched, &error) ||
        !m_fetch.fetchLists(&attempt.fetched, &error))
        return m_outcomes->attemptFailure(error);
    const Manifest listed = parseManifest(attempt.fetched.list);
    attempt.pending = compareWithInstalled(listed, m_config.installDir, &attempt.installedMd5);
    qCInfo(lcRun, "%d of %d listed files differ from the installation", int(attempt.pending.size()),
           int(listed.size()));
    if (!attempt.pending.isEmpty() && m_config.patches &&
        !m_fetch.fetchPackList(&attempt.fetched, &error))
        return m_outcomes->attemptFailure(error);
    return offerUpdate(attempt);
}

// Reports, records "nothing to do", or asks before an optional update.
Outcome UpdateDriver::offerUpdate(const Attempt &attempt)
{
    const bool console = m_outcomes->console();
    if (console)
        m_outcomes->report(true, !attempt.pending.isEmpty() && attempt.forced(), QString());
    if (attempt.pending.isEmpty()) {
        recordNothingToDo(attempt);
        return m_outcomes->finish(1, !console);
    }
    if (!attempt.forced() && !console) {
        CUpdateNotice notice;
        notice.setVersion(attempt.fetched.description.version);
        if (notice.exec() != QDialog::Accepted) {
            qCInfo(lcRun, "the user put the update off");
            return m_outcomes->finish(1, true);
        }
    }
    return applyPending(attempt);
}

// The installation already is this release: its list, and a signed release's Sequence.
// Not checked: a record that cannot be written leaves the outcome as it is.
void UpdateDriver::recordNothingToDo(const Attempt &attempt)
{
    fileops::writeAtomically(m_config.installDir.absoluteFilePath(UpdateNames::record()),
                             attempt.fetched.list);
    const VerifiedRelease &release = attempt.fetched.release;
    if (!release.isNull())
        writeSequenceRecord(m_config.installDir, {release.sequence(), release.descriptionSha256()});
}

// The worker records the list itself as the last step of its commit.
Outcome UpdateDriver::applyPending(const Attempt &attempt)
{
    DownloadOptions options;
    options.record = attempt.fetched.list;
    options.release = attempt.fetched.release;
    options.sslConfiguration = m_fetch.sslConfiguration();
    options.connections = m_config.connections;
    options.packs = attempt.fetched.packs;
    options.installedMd5 = attempt.installedMd5;
    options.http2 = m_config.http2;
    options.proxy = m_fetch.proxy();
    CDownloadThread worker(attempt.fetched.description.baseUrl, m_config.cacheDir,
                           m_config.installDir, attempt.pending.values(), options);
    waitForWorker(worker, !m_outcomes->console() || attempt.forced());
    QObject::disconnect(&worker, nullptr, nullptr, nullptr);
    if (worker.success())
        return m_outcomes->finish(0, !m_outcomes->console() || attempt.forced());
    return m_outcomes->workerFailure(worker.errorText(), attempt.forced());
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

int runUpdater(DriverSettings settings)
{
    initUiResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icon")));
    UpdateDriver driver(std::move(settings));
    return driver.run();
}
