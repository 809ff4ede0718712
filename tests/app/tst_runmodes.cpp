// The updater as a real process: run modes, the instance guard and the host start.
#include "config.h"
#include "instanceguard.h"
#include "testfiles.h"
#include "testinstall.h"
#include "testplatform.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

const QByteArray MissingUrlReport =
    R"({"errormsg":"升级地址不合法:","success":false,"update":false})";
const QByteArray RunningReport = R"({"errormsg":"升级程序已运行","success":false,"update":false})";

// Accepts connections (the kernel does) and never answers: a fetch hangs until its time-out.
struct BlackHole
{
    QTcpServer server;
    BlackHole() { server.listen(QHostAddress::LocalHost); }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort()); }
    int drainConnections(int waitMs)
    {
        int count = 0;
        while (server.waitForNewConnection(waitMs)) {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                socket->deleteLater();
                ++count;
            }
        }
        return count;
    }
};

void stopProcess(QProcess *process)
{
    process->kill();
    process->waitForFinished(5000);
    delete process;
}

struct ProcessStopper
{
    void operator()(QProcess *process) const { stopProcess(process); }
};
using LiveProcess = std::unique_ptr<QProcess, ProcessStopper>;

} // namespace

class TestRunModes : public QObject
{
    Q_OBJECT

private slots:
    void consoleMode_data();
    void consoleMode();
    void restartMode_data();
    void restartMode();
    void restartTouchesNoNetworkAndNoFolder();
    void restartWorksWhileAnotherUpdaterRuns();
    void liveSecondUpdaterIsRefused();
    void updatersInDifferentFoldersDoNotBlock();
    void killedUpdaterDoesNotBlockNextRun();
    void lockFileLeftByKilledUpdaterBlockedEveryRun_data();
    void lockFileLeftByKilledUpdaterBlockedEveryRun();
    void hostStartedWithTwoArgumentsDespiteSpaces();
    void hostInBinFolderIsTheOneBesideTheUpdater();
    void absoluteExeNameIsStartedAsWritten();
    void missingHostChangesNothing();
    void defaultCacheFolderDoesNotCollideWithExecutable();

private:
    LiveProcess startLiveUpdater(const TestInstall &install, BlackHole &hole);
};

// A windowed updater that holds the guard: its description fetch hangs in the black hole.
LiveProcess TestRunModes::startLiveUpdater(const TestInstall &install, BlackHole &hole)
{
    install.writeConfig({{QStringLiteral("URL"), hole.url()}});
    LiveProcess live(install.start({}));
    // It connects only after it has taken the guard.
    if (!live->waitForStarted(15000) || !hole.server.waitForNewConnection(15000))
        return nullptr;
    return live;
}

void TestRunModes::consoleMode_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("CONSOLE") << QStringList{"CONSOLE"};
    QTest::newRow("Console") << QStringList{"Console"};
    QTest::newRow("console") << QStringList{"console"};
    QTest::newRow("second argument ignored") << QStringList{"console", "restart"};
}

void TestRunModes::consoleMode()
{
    QFETCH(QStringList, arguments);
    TestInstall install;
    QVERIFY(install.isValid());
    const UpdaterRun run = install.run(arguments);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    // No "system.cfg": the empty address is a configuration error, before any folder exists.
    QCOMPARE(run.output, MissingUrlReport);
    QVERIFY(!QFileInfo::exists(install.appDir() + "/update-cache"));
    QTest::qWait(300);
    QCOMPARE(install.hostStarts().size(), 0);
}

void TestRunModes::restartMode_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("RESTART") << QStringList{"RESTART"};
    QTest::newRow("restart") << QStringList{"restart"};
    QTest::newRow("second argument ignored") << QStringList{"Restart", "console"};
}

void TestRunModes::restartMode()
{
    QFETCH(QStringList, arguments);
    TestInstall install;
    const UpdaterRun run = install.run(arguments);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.output, QByteArray());
    QTRY_COMPARE(install.hostStarts().size(), 1);
    QCOMPARE(install.hostStarts().first().arguments,
             QStringList({install.updaterPath(), "no_check"}));
    QTest::qWait(200);
    QCOMPARE(install.hostStarts().size(), 1);
}

void TestRunModes::restartTouchesNoNetworkAndNoFolder()
{
    TestInstall install;
    BlackHole hole;
    const QString cache = install.rootPath() + "/deep/cache";
    install.writeConfig({{"URL", hole.url()}, {"Cache", cache}});
    QCOMPARE(install.run({"restart"}).exitCode, 1);
    QCOMPARE(hole.drainConnections(300), 0);
    QVERIFY(!QFileInfo::exists(install.rootPath() + "/deep"));
    QTRY_COMPARE(install.hostStarts().size(), 1);
}

void TestRunModes::restartWorksWhileAnotherUpdaterRuns()
{
    TestInstall install;
    BlackHole hole;
    LiveProcess live = startLiveUpdater(install, hole);
    QVERIFY(live);
    const UpdaterRun run = install.run({"restart"});
    QCOMPARE(run.exitCode, 1);
    QTRY_COMPARE(install.hostStarts().size(), 1);
    QCOMPARE(live->state(), QProcess::Running); // still alive
}

void TestRunModes::liveSecondUpdaterIsRefused()
{
    TestInstall install;
    BlackHole hole;
    LiveProcess live = startLiveUpdater(install, hole);
    QVERIFY(live);
    const UpdaterRun run = install.run({"console"});
    QCOMPARE(run.output, RunningReport);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(hole.drainConnections(200), 0);
    QCOMPARE(install.hostStarts().size(), 0);
}

void TestRunModes::updatersInDifferentFoldersDoNotBlock()
{
    TestInstall first, second;
    BlackHole hole;
    LiveProcess live = startLiveUpdater(first, hole);
    QVERIFY(live);
    QCOMPARE(second.run({"console"}).output, MissingUrlReport);
}

void TestRunModes::killedUpdaterDoesNotBlockNextRun()
{
    TestInstall install;
    BlackHole hole;
    LiveProcess live = startLiveUpdater(install, hole);
    QVERIFY(live);
    // SIGKILL, or on Windows TerminateProcess: either way the holder gets no chance to clean up.
    killHard(live.get());
    QVERIFY(live->waitForFinished(5000));
    live.reset();
    install.writeConfig({});
    QCOMPARE(install.run({"console"}).output, MissingUrlReport);
    // And the run after that, which found no orphan, is free as well.
    QCOMPARE(install.run({"console"}).output, MissingUrlReport);
}

void TestRunModes::lockFileLeftByKilledUpdaterBlockedEveryRun_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("killed between creating and writing it") << QByteArray();
    QTest::newRow("names a process that ended") << QByteArrayLiteral("2147483\nupdate\nhost\n");
    QTest::newRow("unreadable") << QByteArrayLiteral("\xff\xfe garbage");
}

// Whatever a killed holder left in the lock file, the next run takes the guard, and a
// normal run leaves no lock file behind.
void TestRunModes::lockFileLeftByKilledUpdaterBlockedEveryRun()
{
    if (runsOnWindows())
        QSKIP("Windows removes the guard's shared memory with its last holder: no lock file");
    QFETCH(QByteArray, content);
    TestInstall install;
    install.writeConfig({});
    const QString lockPath = InstanceGuard::lockPathFor(install.appDir());
    writeFile(lockPath, content);
    QCOMPARE(install.run({"console"}).output, MissingUrlReport);
    QVERIFY(!QFileInfo::exists(lockPath));
}

void TestRunModes::hostStartedWithTwoArgumentsDespiteSpaces()
{
    TestInstall install(QStringLiteral("my app/with spaces"));
    QVERIFY(install.isValid());
    const QString workingDir = install.rootPath() + "/a working folder";
    QDir().mkpath(workingDir);
    install.run({"restart"}, 60000, workingDir);
    QTRY_COMPARE(install.hostStarts().size(), 1);
    const HostStart start = install.hostStarts().first();
    QCOMPARE(start.arguments, QStringList({install.updaterPath(), "no_check"}));
    QCOMPARE(start.workingDir, workingDir);
}

void TestRunModes::hostInBinFolderIsTheOneBesideTheUpdater()
{
    TestInstall install(QStringLiteral("app/BIN"));
    QVERIFY(TestInstall::placeStandInHost(install.rootPath() + "/app/Host.exe"));
    install.run({"restart"});
    QTRY_COMPARE(install.hostStarts().size(), 1);
    QCOMPARE(install.hostStarts(install.rootPath() + "/app/Host.exe").size(), 0);
}

void TestRunModes::absoluteExeNameIsStartedAsWritten()
{
    TestInstall install;
    const QString other = install.rootPath() + "/elsewhere/Other Host";
    QVERIFY(TestInstall::placeStandInHost(other));
    install.writeConfig({{"ExeName", other}});
    install.run({"restart"});
    QTRY_COMPARE(install.hostStarts(other).size(), 1);
    QCOMPARE(install.hostStarts().size(), 0);
}

void TestRunModes::missingHostChangesNothing()
{
    TestInstall install;
    install.writeConfig({{"ExeName", install.rootPath() + "/no such host"}});
    const UpdaterRun restart = install.run({"restart"});
    QCOMPARE(restart.exitCode, 1);
    QCOMPARE(restart.output, QByteArray());
    const UpdaterRun console = install.run({"console"});
    QCOMPARE(console.exitCode, 1);
    QCOMPARE(console.output, MissingUrlReport);
}

void TestRunModes::defaultCacheFolderDoesNotCollideWithExecutable()
{
    TestInstall install;
    // A port held, but not listened on, for the whole run: the fetch is refused at once. A
    // port merely found free and closed again could be taken meanwhile by a server that
    // another test starts, and the fetch then reached that server.
    QTcpSocket refusing;
    QVERIFY(refusing.bind(QHostAddress::LocalHost, 0, QAbstractSocket::DontShareAddress));
    const quint16 port = refusing.localPort();
    install.writeConfig({{"URL", QStringLiteral("http://127.0.0.1:%1/").arg(port)}});
    const UpdaterRun run = install.run({"console"});
    QCOMPARE(run.exitCode, 1);
    const QByteArray expectedStart = "{\"errormsg\":\"下载升级描述文件失败:";
    QVERIFY2(run.output.startsWith(expectedStart), run.output.constData());
    QVERIFY(QFileInfo(install.appDir() + '/' + defaultCacheFolderName()).isDir());
    QVERIFY(QFileInfo(install.updaterPath()).isExecutable());
}

QTEST_GUILESS_MAIN(TestRunModes)
#include "tst_runmodes.moc"
