// An update applies whole or not at all, as users meet it: real `update` processes,
// a real nginx on 127.0.0.1, real files.
#include "applytransaction.h"
#include "digest.h"
#include "nginxserver.h"
#include "serverrelease.h"
#include "testfiles.h"
#include "testinstall.h"
#include "testplatform.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QtTest>

namespace {

using Files = QMap<QString, QByteArray>;

Files release(const QStringList &names, const QByteArray &version)
{
    Files files;
    for (const QString &name : names)
        files[name] = name.toUtf8() + " of " + version;
    return files;
}

// Every file below `dir` with its content (hidden ones and folders' files included).
QMap<QString, QByteArray> snapshot(const QString &dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(dir).relativeFilePath(path), readFile(path));
    }
    return files;
}

QList<QJsonObject> hostStartRecords(const TestInstall &install)
{
    QList<QJsonObject> records;
    const QByteArray log = readFile(install.appDir() + "/host-starts.jsonl");
    for (const QByteArray &line : log.split('\n')) {
        if (!line.isEmpty())
            records.append(QJsonDocument::fromJson(line).object());
    }
    return records;
}

} // namespace

class TestAllOrNothing : public QObject
{
    Q_OBJECT

private slots:
    void failureAtThirdOfFiveChangesNothing_data();
    void failureAtThirdOfFiveChangesNothing();
    void restartFinishesALeftOverUpdateBeforeTheHost();
    void restartTouchesNothingWhileAnUpdaterRuns();

private:
    void installWithOldCopies(const TestInstall &install, const QString &serverRoot);
    void secondRunNeedsNoDownload(const TestInstall &install, const NginxServer &nginx);
    void plantJournal(const TestInstall &install, const QString &cache);

    QStringList m_names = {"1.dll", "2.dll", "3.dll", "4.dll", "5.dll"};
    Files m_first, m_previous, m_next;
    QByteArray m_previousList, m_nextList;
};

// Installed: the previous release, each file's ".old" the first one, the record of the
// previous list. Published: the next release, every file changed.
void TestAllOrNothing::installWithOldCopies(const TestInstall &install, const QString &serverRoot)
{
    m_first = release(m_names, "first");
    m_previous = release(m_names, "previous");
    m_next = release(m_names, "next");
    m_previousList = ServerRelease::writeVersion(serverRoot, "v1", m_previous);
    m_nextList = ServerRelease::writeVersion(serverRoot, "v2", m_next);
    ServerRelease::writeDescription(serverRoot, 0, "v2", "2.0");
    ServerRelease::install(install.appDir(), m_previous);
    for (const QString &name : m_names)
        writeFile(install.appDir() + '/' + name + ".old", m_first.value(name));
    writeFile(install.appDir() + "/update_md5.info", m_previousList);
}

void TestAllOrNothing::failureAtThirdOfFiveChangesNothing_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<QString>("message");
    QTest::newRow("folder at the old copy's name") << "folder"
                                                   << "删除文件3.dll.old失败";
    QTest::newRow("name at the length limit") << "long name"
                                              << "重命名%1为%1.old失败";
}

void TestAllOrNothing::failureAtThirdOfFiveChangesNothing()
{
    QFETCH(QString, obstacle);
    QFETCH(QString, message);
    QTemporaryDir served;
    NginxServer nginx(served.path());
    QVERIFY(nginx.start());
    TestInstall install;
    QVERIFY(install.isValid());
    install.writeConfig({{"URL", nginx.url()}, {"Cache", install.rootPath() + "/cache"}});
    const QString longName = QString(252, QLatin1Char('3'));
    if (runsOnWindows() && obstacle == QLatin1String("long name"))
        QSKIP("Windows fails this name earlier, at the staged copy, with another message");
    if (obstacle == QLatin1String("long name"))
        m_names[2] = longName; // its ".old" would be 256 bytes long
    installWithOldCopies(install, served.path());
    const QString third = install.appDir() + '/' + m_names.at(2);
    if (obstacle == QLatin1String("folder")) {
        QFile::remove(third + ".old");
        writeFile(third + ".old/keep", "in the way");
    }
    const QMap<QString, QByteArray> before = snapshot(install.appDir());

    const UpdaterRun failed = install.run({"console"});
    QCOMPARE(failed.exitCode, 1);
    const QString expected = message.contains("%1") ? message.arg(third) : message;
    QVERIFY2(failed.output.contains(expected.toUtf8()), failed.output.constData());
    QCOMPARE(snapshot(install.appDir()), before);
    m_names[2] = QStringLiteral("3.dll");
    if (obstacle != QLatin1String("folder"))
        return;

    QVERIFY(QDir(third + ".old").removeRecursively());
    secondRunNeedsNoDownload(install, nginx);
}

// After the obstacle is gone: everything applied from the cache, and the ".old" copies are
// the version installed before the update, not the new one.
void TestAllOrNothing::secondRunNeedsNoDownload(const TestInstall &install,
                                                const NginxServer &nginx)
{
    const int requestsBefore = nginx.requestedPaths().size();
    const UpdaterRun second = install.run({"console"});
    QCOMPARE(second.exitCode, 0);
    QVERIFY(nginx.waitForRequests(requestsBefore + 2));
    // Only the description and the list: every file came from the cache.
    const QStringList requested = nginx.requestedPaths().mid(requestsBefore);
    QVERIFY2(requested == QStringList({"/update.ini", "/v2//md5.txt"}),
             qPrintable(requested.join(' ')));
    QVERIFY(ServerRelease::installed(install.appDir(), m_next));
    for (const QString &name : m_names)
        QCOMPARE(readFile(install.appDir() + '/' + name + ".old"), m_previous[name]);
    QCOMPARE(readFile(install.appDir() + "/update_md5.info"), m_nextList);
}

// What an update killed right after it wrote its journal leaves: the previous release
// installed, the next one verified in the cache, and the journal.
void TestAllOrNothing::plantJournal(const TestInstall &install, const QString &cache)
{
    QList<ManifestEntry> entries;
    for (auto it = m_next.cbegin(); it != m_next.cend(); ++it) {
        writeFile(cache + '/' + it.key(), it.value());
        entries.append({it.key(), it.value().size(), digestText(it.value())});
    }
    UpdateJournal journal = UpdateJournal::plan(QDir(cache), QDir(install.appDir()), entries);
    journal.writesRecord = true;
    journal.record = m_nextList;
    QVERIFY(journal.write(QDir(install.appDir())));
}

void TestAllOrNothing::restartFinishesALeftOverUpdateBeforeTheHost()
{
    QTemporaryDir served;
    TestInstall install;
    QVERIFY(install.isValid());
    const QString cache = install.rootPath() + "/cache";
    install.writeConfig({{"URL", "http://127.0.0.1:1/"}, {"Cache", cache}});
    installWithOldCopies(install, served.path());
    plantJournal(install, cache);

    const UpdaterRun run = install.run({"restart"});
    QCOMPARE(run.exitCode, 1);
    QTRY_COMPARE(hostStartRecords(install).size(), 1);
    QCOMPARE(hostStartRecords(install).first().value("journal").toBool(), false);
    QVERIFY(ServerRelease::installed(install.appDir(), m_next));
    for (const QString &name : m_names)
        QCOMPARE(readFile(install.appDir() + '/' + name + ".old"), m_previous[name]);
    QCOMPARE(readFile(install.appDir() + "/update_md5.info"), m_nextList);
    QVERIFY(!QFileInfo::exists(install.appDir() + "/update_md5.info.journal"));
}

void TestAllOrNothing::restartTouchesNothingWhileAnUpdaterRuns()
{
    QTemporaryDir served;
    QTcpServer silent; // accepts connections and never answers: the live updater waits
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    TestInstall install;
    QVERIFY(install.isValid());
    const QString cache = install.rootPath() + "/cache";
    install.writeConfig({{"URL", QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort())},
                         {"Cache", cache}});
    installWithOldCopies(install, served.path());
    std::unique_ptr<QProcess> live(install.start({"console"}));
    QVERIFY(live->waitForStarted(10000));
    QVERIFY(silent.waitForNewConnection(10000)); // it holds the guard and fetches
    plantJournal(install, cache);                // as if it were half way through its apply
    const QMap<QString, QByteArray> before = snapshot(install.appDir());

    const UpdaterRun run = install.run({"restart"});
    QCOMPARE(run.exitCode, 1);
    QTRY_COMPARE(hostStartRecords(install).size(), 1);
    QCOMPARE(hostStartRecords(install).first().value("journal").toBool(), true);
    QMap<QString, QByteArray> after = snapshot(install.appDir());
    after.remove("host-starts.jsonl");
    QCOMPARE(after, before);
    QCOMPARE(live->state(), QProcess::Running);
    live->kill();
    live->waitForFinished(5000);
}

QTEST_GUILESS_MAIN(TestAllOrNothing)
#include "tst_allornothing.moc"
