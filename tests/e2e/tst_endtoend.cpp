// Releases published with update-publish, served by a real nginx, applied by real
// `update console` processes. Installations are compared with diff, never with our own code.
#include "publishrun.h"

#include "nginxserver.h"
#include "testfiles.h"
#include "testinstall.h"
#include "tlsfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

namespace {

const QByteArray NothingToDo = R"({"errormsg":"","success":true,"update":false})";
const QByteArray ForcedUpdate = R"({"errormsg":"","success":true,"update":true})";

// The updater's own files and what the stand-in host writes: never part of a release.
const QStringList ClientOnly{QStringLiteral("system.cfg"), QStringLiteral("update_md5.info"),
                             QStringLiteral("*.old"), QStringLiteral("host-starts.jsonl")};

using Files = QMap<QString, QByteArray>;

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
    void namesWithSpacesAndNonAscii_data();
    void namesWithSpacesAndNonAscii();
    void replacesItsOwnExecutable();
    void httpsServerOfUnknownAuthorityIsRefused();
    void foldersOutsideTheCodePage();

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
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (!writeFile(release, it.key(), it.value()))
            qFatal("cannot write %s into the release", qPrintable(it.key()));
    }
    const QString appDir = release + m_appSubdir.mid(3); // "app/bin" -> release + "/bin"
    const QString updaterName = QFileInfo(m_install->updaterPath()).fileName();
    copyExecutable(m_install->updaterPath(), appDir + QLatin1Char('/') + updaterName,
                   updaterSuffix);
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
    QVERIFY2(!readFile(list).isEmpty() && readFile(list) == readFile(record),
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
    QTRY_COMPARE(m_install->hostStarts().size(), 1);
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
    QCOMPARE(readFile(m_installDir + QStringLiteral("/changed.dll.old")),
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
    QTRY_COMPARE(m_install->hostStarts().size(), hostStarts);
}

// The list holds the paths in the clients' code page (on Windows the ANSI code page: 936
// for Chinese names, 1252 for Western ones); the installed files get the right names.
void TestEndToEnd::namesWithSpacesAndNonAscii_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("chinese") << QStringLiteral("资料/说明 书.txt");
    QTest::newRow("western") << QStringLiteral("Données/é è.txt");
}

void TestEndToEnd::namesWithSpacesAndNonAscii()
{
    QFETCH(QString, name);
    QTextCodec *codec = TestInstall::clientCodec();
    if (codec->toUnicode(codec->fromUnicode(name)) != name)
        QSKIP(qPrintable(QStringLiteral("the code page %1 cannot express this name")
                             .arg(QString::fromLatin1(codec->name()))));
    const QString v1 =
        makeRelease(QStringLiteral("v1"), {{QStringLiteral("my data/read me.txt"), "spaces"},
                                           {name, "non-ascii"},
                                           {QStringLiteral("100% done #1.txt"), "escapes"}});
    publish(v1, QStringLiteral("v1"));
    QString listed = name;
    listed.replace(QLatin1Char('/'), QLatin1Char('\\'));
    const QByteArray list = readFile(m_work->filePath(QStringLiteral("root/v1/md5.txt")));
    QVERIFY2(list.contains('\t' + codec->fromUnicode(listed) + "\r\n"), list.constData());
    const UpdaterRun run = runConsole();
    QCOMPARE(run.output, ForcedUpdate);
    QCOMPARE(run.exitCode, 0);
    verifyInstalled(v1, QStringLiteral("v1"));
    QCOMPARE(readFile(m_installDir + QLatin1Char('/') + name), QByteArray("non-ascii"));
}

void TestEndToEnd::replacesItsOwnExecutable()
{
    const QString v1 = makeRelease(QStringLiteral("v1"), {{QStringLiteral("a.dll"), "a"}});
    publish(v1, QStringLiteral("v1"));
    QCOMPARE(runConsole().exitCode, 0);

    const QString v2 = makeRelease(QStringLiteral("v2"), {{QStringLiteral("a.dll"), "a"}},
                                   QByteArray("\0updater of version two", 23));
    publish(v2, QStringLiteral("v2"));
    const QByteArray running = readFile(m_install->updaterPath());
    const UpdaterRun run = runConsole();
    QCOMPARE(run.output, ForcedUpdate);
    QCOMPARE(run.exitCode, 0);
    verifyInstalled(v2, QStringLiteral("v2"));
    QVERIFY(readFile(m_install->updaterPath() + QStringLiteral(".old")) == running);
    // Regression: a replaced executable must stay executable, or the next run cannot start.
    QVERIFY2(QFileInfo(m_install->updaterPath()).isExecutable(),
             "the new updater lost the execute permission of the file it replaced");

    const UpdaterRun next = runConsole();
    QCOMPARE(next.output, NothingToDo);
    QCOMPARE(next.exitCode, 1);
}

// The handshake runs and the chain is checked against the system's authorities, which do
// not include the test authority; the machine's trust store is never changed.
void TestEndToEnd::httpsServerOfUnknownAuthorityIsRefused()
{
    TlsFixture certificates;
    QVERIFY(certificates.isValid());
    QString error;
    QVERIFY2(certificates.makeAuthority(QStringLiteral("ca"), QStringLiteral("update test CA"),
                                        &error) &&
                 certificates.makeServerCertificate(QStringLiteral("server"), QStringLiteral("ca"),
                                                    &error),
             qPrintable(error));
    NginxServer tls(m_work->filePath(QStringLiteral("root")));
    tls.setTls(certificates.certificatePath(QStringLiteral("server")),
               certificates.keyPath(QStringLiteral("server")));
    QVERIFY2(tls.start(&error), qPrintable(error));
    publish(makeRelease(QStringLiteral("v1"), {{QStringLiteral("a.dll"), "a"}}),
            QStringLiteral("v1"));
    m_install->writeConfig(
        {{QStringLiteral("URL"), tls.url()},
         {QStringLiteral("Cache"), m_install->rootPath() + QStringLiteral("/cache")}});
    const UpdaterRun run = runConsole();
    // The handshake ran and the chain was checked: the reason names the missing issuer.
    QVERIFY2(
        run.output.startsWith(
            "{\"errormsg\":\"下载升级描述文件失败:SSL handshake failed (The issuer certificate"),
        run.output.constData());
    QVERIFY2(run.output.endsWith("\",\"success\":false,\"update\":false}"), run.output.constData());
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(tls.requestedPaths(), QStringList());
    QVERIFY(!QFileInfo::exists(m_installDir + QStringLiteral("/a.dll")));
}

// A user folder in Thai: Windows' ANSI code pages 936 and 1252 cannot express it, so the
// updater must reach it through the wide-character API on every step.
void TestEndToEnd::foldersOutsideTheCodePage()
{
    m_install.reset(new TestInstall(QStringLiteral("ผู้ใช้/app")));
    QVERIFY(m_install->isValid());
    m_installDir = m_install->appDir();
    m_install->writeConfig(
        {{QStringLiteral("URL"), m_server->url()},
         {QStringLiteral("Cache"), m_install->rootPath() + QStringLiteral("/ผู้ใช้/cache")}});
    const QString v1 = makeRelease(QStringLiteral("v1"), {{QStringLiteral("data/a.dll"), "one"}});
    publish(v1, QStringLiteral("v1"));
    QCOMPARE(runConsole().output, ForcedUpdate);
    const QString v2 = makeRelease(QStringLiteral("v2"), {{QStringLiteral("data/a.dll"), "two"}});
    publish(v2, QStringLiteral("v2"));
    const UpdaterRun run = runConsole();
    QCOMPARE(run.output, ForcedUpdate);
    QCOMPARE(run.exitCode, 0);
    verifyInstalled(v2, QStringLiteral("v2"));
    QCOMPARE(readFile(m_installDir + QStringLiteral("/data/a.dll.old")), QByteArray("one"));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
