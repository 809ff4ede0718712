#include "testinstall.h"

#include "testfiles.h"
#include "testplatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTextCodec>

#ifdef Q_OS_LINUX
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

QString updaterFileName()
{
    const bool windows = runsOnWindows() || !TestInstall::windowsBuild().isEmpty();
    return windows ? QStringLiteral("update.exe") : QStringLiteral("update");
}

QString builtUpdater()
{
    const QString windows = TestInstall::windowsBuild();
    return windows.isEmpty() ? QStringLiteral(UPDATE_BINARY_PATH)
                             : windows + QStringLiteral("/app/update.exe");
}

QString builtStandInHost()
{
    const QString windows = TestInstall::windowsBuild();
    return windows.isEmpty() ? QStringLiteral(STANDIN_HOST_PATH)
                             : windows + QStringLiteral("/tests/support/standin_host.exe");
}

} // namespace

QString lastReportedError(const UpdaterRun &run)
{
    const int last = run.output.lastIndexOf("{\"errormsg\"");
    return QJsonDocument::fromJson(run.output.mid(last))
        .object()
        .value(QStringLiteral("errormsg"))
        .toString();
}

TestInstall::TestInstall(const QString &appSubdir)
{
    m_appDir = m_root.path() + QLatin1Char('/') + appSubdir;
    m_valid = m_root.isValid() && QDir().mkpath(m_appDir) &&
              copyExecutable(builtUpdater(), updaterPath()) && placeStandInHost(hostPath());
}

QString TestInstall::updaterPath() const
{
    return m_appDir + QLatin1Char('/') + updaterFileName();
}

QString TestInstall::hostPath() const
{
    return m_appDir + QStringLiteral("/Host.exe");
}

void TestInstall::writeConfig(const QMap<QString, QString> &updateKeys) const
{
    QByteArray text = "[Update]\n";
    for (auto it = updateKeys.cbegin(); it != updateKeys.cend(); ++it)
        text += it.key().toUtf8() + '=' + it.value().toUtf8() + '\n';
    writeConfigText(text);
}

void TestInstall::writeConfigText(const QByteArray &text) const
{
    writeFile(m_appDir + QStringLiteral("/system.cfg"), text);
}

QProcess *TestInstall::start(const QStringList &arguments, const QString &workingDir) const
{
    auto *process = new QProcess;
    setUpProgram(process, updaterPath(), arguments);
    QProcessEnvironment environment = process->processEnvironment();
    if (environment.isEmpty())
        environment = QProcessEnvironment::systemEnvironment();
    // Under the sanitizers (the tests set LSAN_OPTIONS) the updater gets suppressions of its
    // own: see the file. The tests' own processes keep the shared ones.
    if (environment.contains(QStringLiteral("LSAN_OPTIONS")))
        environment.insert(QStringLiteral("LSAN_OPTIONS"),
                           QStringLiteral("suppressions=" TESTS_SOURCE_DIR
                                          "/support/lsan-updater.supp:print_suppressions=0"));
    // Removals first: on Windows a name differing only in letter case is the same
    // variable, and a later removal would take away what was just set.
    for (auto it = m_environment.cbegin(); it != m_environment.cend(); ++it) {
        if (it.value().isNull())
            environment.remove(it.key());
    }
    for (auto it = m_environment.cbegin(); it != m_environment.cend(); ++it) {
        if (!it.value().isNull())
            environment.insert(it.key(), it.value());
    }
    process->setProcessEnvironment(environment);
    if (m_unprivileged) {
        process->setArguments(QStringList{QStringLiteral("--reuid=nobody"),
                                          QStringLiteral("--regid=nogroup"),
                                          QStringLiteral("--clear-groups"), QStringLiteral("--"),
                                          process->program()} +
                              process->arguments());
        process->setProgram(QStringLiteral("setpriv"));
    }
    process->setWorkingDirectory(workingDir.isEmpty() ? m_root.path() : workingDir);
    process->start();
    return process;
}

UpdaterRun TestInstall::run(const QStringList &arguments, int timeoutMs,
                            const QString &workingDir) const
{
    UpdaterRun result;
    QProcess *process = start(arguments, workingDir);
    result.finished = process->waitForFinished(timeoutMs);
    if (!result.finished) {
        process->kill();
        process->waitForFinished(5000);
    }
    // A process still running after the kill reads as a normal exit with code 0 (Wine, where
    // an exit can hang): only a finished run has an exit code.
    const bool normalExit = result.finished && process->exitStatus() == QProcess::NormalExit;
    result.exitCode = normalExit ? process->exitCode() : -1;
    result.output = process->readAllStandardOutput();
    result.errors = process->readAllStandardError();
    // Rare, and the test's own message does not say what the updater printed.
    if (!normalExit)
        qWarning("update %s %s (status %d); standard error:\n%s", qPrintable(arguments.join(' ')),
                 result.finished ? "crashed" : "did not finish in time", process->exitCode(),
                 result.errors.constData());
    delete process;
    return result;
}

QList<HostStart> TestInstall::hostStarts(const QString &hostPath) const
{
    const QString host = hostPath.isEmpty() ? this->hostPath() : hostPath;
    const QString log = QFileInfo(host).absolutePath() + QStringLiteral("/host-starts.jsonl");
    QList<HostStart> starts;
    const QList<QByteArray> lines = readFile(log).split('\n');
    for (const QByteArray &line : lines) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        if (record.isEmpty())
            continue;
        HostStart start;
        for (const QJsonValue &argument : record.value(QStringLiteral("args")).toArray())
            start.arguments.append(argument.toString());
        start.workingDir = record.value(QStringLiteral("cwd")).toString();
        starts.append(start);
    }
    return starts;
}

bool TestInstall::placeStandInHost(const QString &path)
{
    return QDir().mkpath(QFileInfo(path).absolutePath()) &&
           copyExecutable(builtStandInHost(), path);
}

QString TestInstall::unprivilegedReason()
{
#ifdef Q_OS_LINUX
    if (!windowsBuild().isEmpty())
        return QStringLiteral("the Windows programs run under Wine");
    if (::geteuid() != 0)
        return QStringLiteral("only root can run a process as another user");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        return QStringLiteral("setpriv is missing");
    return QString();
#else
    return QStringLiteral("Linux only");
#endif
}

bool TestInstall::giveToUnprivileged(const QString &path) const
{
#ifdef Q_OS_LINUX
    const passwd *nobody = ::getpwnam("nobody");
    if (!nobody || ::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid))
        return false;
    const auto open = QFileDevice::ExeOther | QFileDevice::ReadOther;
    for (QString folder = QFileInfo(path).absolutePath(); folder.startsWith(m_root.path());
         folder = QFileInfo(folder).absolutePath()) {
        if (!QFile::setPermissions(folder, QFile::permissions(folder) | open))
            return false;
    }
    return true;
#else
    Q_UNUSED(path);
    return false;
#endif
}

QString TestInstall::windowsBuild()
{
    // The Windows build of a test runs its own programs as they are.
    if (runsOnWindows())
        return QString();
    return qEnvironmentVariable("UPDATE_WINDOWS_BUILD");
}

void TestInstall::setUpProgram(QProcess *process, const QString &program,
                               const QStringList &arguments)
{
    if (windowsBuild().isEmpty()) {
        process->setProgram(program);
        process->setArguments(arguments);
        return;
    }
    // Wine passes QT_* variables into the Windows process only as WINEQT_*.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
        environment.insert(QStringLiteral("WINEQT_QPA_PLATFORM"),
                           environment.value(QStringLiteral("QT_QPA_PLATFORM")));
    environment.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    process->setProcessEnvironment(environment);
    process->setProgram(QStringLiteral("wine"));
    process->setArguments(QStringList{program} + arguments);
}

QTextCodec *TestInstall::clientCodec()
{
    if (windowsBuild().isEmpty())
        return QTextCodec::codecForLocale();
    const bool chinese = qEnvironmentVariable("LC_ALL").startsWith(QLatin1String("zh_CN"));
    return QTextCodec::codecForName(chinese ? "GBK" : "windows-1252");
}
