// Releases published with update-publish, served by a real nginx, applied by real
// `update console` processes. Installations are compared with diff, never with our own code.
#include "publishrun.h"

#include "nginxserver.h"
#include "testinstall.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QByteArray NothingToDo = R"({"errormsg":"","success":true,"update":false})";
const QByteArray ForcedUpdate = R"({"errormsg":"","success":true,"update":true})";

// The updater's own files and what the stand-in host writes: never part of a release.
const QStringList ClientOnly{QStringLiteral("system.cfg"), QStringLiteral("update_md5.info"),
                             QStringLiteral("*.old"), QStringLiteral("host-starts.jsonl")};

using Files = QMap<QString, QByteArray>;

bool copyExecutable(const QString &from, const QString &to, const QByteArray &suffix = {})
{
    QByteArray bytes = fileBytes(from);
    // Trailing bytes leave an ELF or PE executable runnable but make it a different file.
    return !bytes.isEmpty() && putFile(QStringLiteral("/"), to, bytes + suffix) &&
           QFile::setPermissions(to, QFile::permissions(from));
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void firstInstall_data();
    void firstInstall();
    void updatesChangedAndAddedFilesOnly();
    void nothingToDo();
    void forcedAgainstOptional_data();
    void forcedAgainstOptional();
    void namesWithSpacesAndNonAscii();
    void replacesItsOwnExecutable();

private:
    // A release folder holding `files` plus the updater and the host in `appSubdir`.
    QString makeRelease(const QString &name, const Files &files,
                        const QByteArray &updaterSuffix = {}) const;
    void publish(const QString &release, const QString &folder, const QStringList &extra = {});
    void prepareInstall(const QString &appSubdir = QStringLiteral("app"));
    // Checks the installation against `release`, and update_md5.info against the list.
    void verifyInstalled(const QString &release, const QString &folder) const;
    UpdaterRun runConsole() const;

    QScopedPointer<QTemporaryDir> m_work;
    QScopedPointer<NginxServer> m_server;
    QScopedPointer<TestInstall> m_install;
    QString m_appSubdir;
    QString m_installDir;
};

void TestEndToEnd::init()
{
    m_work.reset(new QTemporaryDir);
    QVERIFY(m_work->isValid());
    QVERIFY(QDir().mkpath(m_work->filePath(QStringLiteral("root"))));
    m_server.reset(new NginxServer(m_work->filePath(QStringLiteral("root"))));
    QString error;
    QVERIFY2(m_server->start(&error), qPrintable(error));
    prepareInstall();
}

void TestEndToEnd::cleanup()
{
    m_install.reset();
    m_server.reset();
    m_work.reset();
}

void TestEndToEnd::prepareInstall(const QString &appSubdir)
{
    m_appSubdir = appSubdir;
    m_install.reset(new TestInstall(appSubdir));
    QVERIFY(m_install->isValid());
    m_installDir = QDir::cleanPath(m_install->rootPath() + QStringLiteral("/app"));
    // Outside the installation, so that it needs no exclusion when comparing.
    m_install->writeConfig(
        {{QStringLiteral("URL"), m_server->url()},
         {QStringLiteral("Cache"), m_install->rootPath() + QStringLiteral("/cache")}});
}

QString TestEndToEnd::makeRelease(const QString &name, const Files &files,
                                  const QByteArray &updaterSuffix) const
{
    const QString release = m_work->filePath(QStringLiteral("releases/") + name);
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        putFile(release, it.key(), it.value());
    const QString appDir = release + m_appSubdir.mid(3); // "app/bin" -> release + "/bin"
    copyExecutable(m_install->updaterPath(), appDir + QStringLiteral("/update"), updaterSuffix);
    copyExecutable(m_install->hostPath(), appDir + QStringLiteral("/Host.exe"));
    return release;
}

void TestEndToEnd::publish(const QString &release, const QString &folder, const QStringList &extra)
{
    const ToolRun run = runPublish(QStringList{release, m_work->filePath(QStringLiteral("root")),
                                               QStringLiteral("--folder"), folder} +
                                   extra);
    QVERIFY2(run.exitCode == 0, run.errors.constData());
}

void TestEndToEnd::verifyInstalled(const QString &release, const QString &folder) const
{
    QByteArray differences;
    QVERIFY2(foldersEqual(release, m_installDir, ClientOnly, &differences),
             differences.constData());
    const QString list = m_work->filePath(QStringLiteral("root/%1/md5.txt").arg(folder));
    const QString record = m_installDir + QStringLiteral("/update_md5.info");
    QVERIFY2(runTool(QStringLiteral("cmp"), {list, record}).exitCode == 0,
             "update_md5.info differs from the published md5.txt");
}

UpdaterRun TestEndToEnd::runConsole() const
{
    return m_install->run({QStringLiteral("console")});
}

void TestEndToEnd::firstInstall_data()
{
    QTest::addColumn<QString>("appSubdir");
    QTest::newRow("updater in the installation folder") << QStringLiteral("app");
    QTest::newRow("updater in a bin folder") << QStringLiteral("app/bin");
}

void TestEndToEnd::firstInstall()
{
    QFETCH(QString, appSubdir);
    prepareInstall(appSubdir);
    const QString v1 = makeRelease(QStringLiteral("v1"),
                                   {{QStringLiteral("Host.dll"), "host library 1"},
                                    {QStringLiteral("data/levels/one.dat"), QByteArray(70000, 'x')},
                                    {QStringLiteral("empty.txt"), QByteArray()}});
    publish(v1, QStringLiteral("v1"));

    const UpdaterRun run = runConsole();
    QVERIFY2(run.finished, run.errors.constData());
    QCOMPARE(run.output, ForcedUpdate);
    QCOMPARE(run.exitCode, 0);
    verifyInstalled(v1, QStringLiteral("v1"));
    QCOMPARE(m_install->hostStarts().size(), 1);
}

void TestEndToEnd::updatesChangedAndAddedFilesOnly()
{
    const QString v1 =
        makeRelease(QStringLiteral("v1"), {{QStringLiteral("changed.dll"), "version one"},
                                           {QStringLiteral("same/kept.dat"), "unchanged bytes"}});
    publish(v1, QStringLiteral("v1"));
    QCOMPARE(runConsole().exitCode, 0);
    const int before = m_server->requestedPaths().size();

    const QString v2 =
        makeRelease(QStringLiteral("v2"), {{QStringLiteral("changed.dll"), "version two, longer"},
                                           {QStringLiteral("same/kept.dat"), "unchanged bytes"},
                                           {QStringLiteral("new/added.txt"), "added in two"}});
    publish(v2, QStringLiteral("v2"));
    const UpdaterRun run = runConsole();
    QCOMPARE(run.output, ForcedUpdate);
    QCOMPARE(run.exitCode, 0);
    verifyInstalled(v2, QStringLiteral("v2"));
    QCOMPARE(fileBytes(m_installDir + QStringLiteral("/changed.dll.old")),
             QByteArray("version one"));

    QStringList files;
    for (const QString &path : m_server->requestedPaths().mid(before)) {
        if (path.startsWith(QStringLiteral("/v2/")) && !path.endsWith(QStringLiteral("md5.txt")))
            files.append(path);
    }
    files.sort();
    QCOMPARE(files,
             (QStringList{QStringLiteral("/v2/changed.dll"), QStringLiteral("/v2/new/added.txt")}));
}

void TestEndToEnd::nothingToDo()
{
    const QString v1 = makeRelease(QStringLiteral("v1"), {{QStringLiteral("a.dll"), "a"}});
    publish(v1, QStringLiteral("v1"));
    QCOMPARE(runConsole().exitCode, 0);
    QFile::remove(m_installDir + QStringLiteral("/update_md5.info"));

    const UpdaterRun run = runConsole();
    QCOMPARE(run.output, NothingToDo);
    QCOMPARE(run.exitCode, 1);
    verifyInstalled(v1, QStringLiteral("v1"));
}

void TestEndToEnd::forcedAgainstOptional_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<int>("hostStarts");
    QTest::newRow("forced") << QStringList() << ForcedUpdate << 1;
    QTest::newRow("optional") << QStringList{QStringLiteral("--optional")}
                              << QByteArray(R"({"errormsg":"","success":true,"update":false})")
                              << 0;
}

void TestEndToEnd::forcedAgainstOptional()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, report);
    QFETCH(int, hostStarts);
    const QString v1 = makeRelease(QStringLiteral("v1"), {{QStringLiteral("a.dll"), "a"}});
    publish(v1, QStringLiteral("v1"), options);
    const UpdaterRun run = runConsole();
    QCOMPARE(run.output, report);
    QCOMPARE(run.exitCode, 0);
    verifyInstalled(v1, QStringLiteral("v1"));
    QCOMPARE(m_install->hostStarts().size(), hostStarts);
}

void TestEndToEnd::namesWithSpacesAndNonAscii()
{
    const QString v1 =
        makeRelease(QStringLiteral("v1"), {{QStringLiteral("my data/read me.txt"), "spaces"},
                                           {QStringLiteral("资料/说明 书.txt"), "中文"},
                                           {QStringLiteral("100% done #1.txt"), "escapes"}});
    publish(v1, QStringLiteral("v1"));
    const UpdaterRun run = runConsole();
    QCOMPARE(run.output, ForcedUpdate);
    QCOMPARE(run.exitCode, 0);
    verifyInstalled(v1, QStringLiteral("v1"));
}

void TestEndToEnd::replacesItsOwnExecutable()
{
    const QString v1 = makeRelease(QStringLiteral("v1"), {{QStringLiteral("a.dll"), "a"}});
    publish(v1, QStringLiteral("v1"));
    QCOMPARE(runConsole().exitCode, 0);

    const QString v2 = makeRelease(QStringLiteral("v2"), {{QStringLiteral("a.dll"), "a"}},
                                   QByteArray("\0updater of version two", 23));
    publish(v2, QStringLiteral("v2"));
    const QByteArray running = fileBytes(m_install->updaterPath());
    const UpdaterRun run = runConsole();
    QCOMPARE(run.output, ForcedUpdate);
    QCOMPARE(run.exitCode, 0);
    verifyInstalled(v2, QStringLiteral("v2"));
    QVERIFY(fileBytes(m_install->updaterPath() + QStringLiteral(".old")) == running);
    // Regression: a replaced executable must stay executable, or the next run cannot start.
    QVERIFY2(QFileInfo(m_install->updaterPath()).isExecutable(),
             "the new updater lost the execute permission of the file it replaced");

    const UpdaterRun next = runConsole();
    QCOMPARE(next.output, NothingToDo);
    QCOMPARE(next.exitCode, 1);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
