// The real `update console`, killed with SIGKILL at many points of the download and of the
// apply, then run again. After every kill each listed path holds a whole file of the
// previous or of the new release; after the next run the installation is the new release
// byte for byte, its ".old" copies are the previous one and the record is the new list.
// Kills land in the apply without any hook in the product: the test watches for the
// update's journal and kills at growing delays after it appears.
#include "nginxserver.h"
#include "serverrelease.h"
#include "testfiles.h"
#include "testinstall.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <QtTest>

namespace {

using Files = QMap<QString, QByteArray>;

QByteArray bytesFor(const QString &name, int size, int version)
{
    QByteArray bytes = (name + QLatin1Char('@') + QString::number(version)).toUtf8() + ':';
    quint32 state = qHash(name) ^ quint32(version * 7919);
    bytes.reserve(size);
    while (bytes.size() < size) {
        state = state * 1664525u + 1013904223u;
        bytes += char('a' + (state >> 27));
    }
    return bytes.left(size);
}

// Many small files and a few large ones; the new release changes some, keeps some and
// adds some in a new folder.
void makeReleases(Files *previous, Files *next)
{
    for (int i = 0; i < 80; ++i) {
        const QString name = QStringLiteral("lib/part%1/file%2.dll").arg(i % 4).arg(i);
        (*previous)[name] = bytesFor(name, 200 + 37 * i, 1);
        (*next)[name] = i % 3 == 0 ? (*previous)[name] : bytesFor(name, 300 + 41 * i, 2);
    }
    for (int i = 0; i < 3; ++i) {
        const QString name = QStringLiteral("data/big%1.pak").arg(i);
        (*previous)[name] = bytesFor(name, 3 * 1024 * 1024 + i, 1);
        (*next)[name] = bytesFor(name, 4 * 1024 * 1024 - i, 2);
    }
    for (int i = 0; i < 10; ++i) {
        const QString name = QStringLiteral("plugins/new%1/added.dll").arg(i);
        (*next)[name] = bytesFor(name, 500 + i, 2);
    }
}

constexpr int DownloadKills = 6;
constexpr int ApplyKills = 14;

struct KillFigures
{
    qint64 applyUs = 0; // how long an apply's journal is there
    int points = 0;
    int inApply = 0;
    qint64 recoveryUs = 0; // from the start of a run to the end of its recovery
    int recoveryKills = 0;
    int recoveryCut = 0;       // the journal was still there after the kill
    int recoveryMidway = 0;    // ... and the recovery had already changed files
    QMap<QString, int> states; // journal state found after the kill
};

} // namespace

class TestInterruptedUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void killedAnywhereEndsWhole_data();
    void killedAnywhereEndsWhole();
    void killedWithItsJournalCutShortIsRefused();

private:
    void resetInstallation(const TestInstall &install, const QString &cache) const;
    void killOnce(const TestInstall &install, int i, KillFigures *figures);
    void reportFigures(const KillFigures &figures) const;
    static QString journalPath(const TestInstall &install);
    qint64 runUntilJournal(const TestInstall &install, qint64 delayUs, bool *sawJournal) const;
    void checkWholeAfterKill(const QString &appDir) const;
    qint64 timeToRecover(const TestInstall &install) const;
    void interruptRecovery(const TestInstall &install, qint64 delayUs, KillFigures *figures) const;
    void checkEndState(const QString &appDir) const;
    qint64 measureApply(const TestInstall &install, const QString &cache);

    QTemporaryDir m_served;
    std::unique_ptr<NginxServer> m_nginx;
    Files m_previous;
    Files m_next;
    QByteArray m_previousList;
    QByteArray m_nextList;
};

void TestInterruptedUpdate::initTestCase()
{
    makeReleases(&m_previous, &m_next);
    m_previousList = ServerRelease::writeVersion(m_served.path(), QStringLiteral("v1"), m_previous);
    m_nextList = ServerRelease::writeVersion(m_served.path(), QStringLiteral("v2"), m_next);
    ServerRelease::writeDescription(m_served.path(), 0, QStringLiteral("v2"), QStringLiteral("2"));
    m_nginx = std::make_unique<NginxServer>(m_served.path());
    // Slow enough that kills by time land all over the download.
    m_nginx->setServerDirectives(QStringLiteral("location /v2/data/ { limit_rate 24m; }"));
    QVERIFY(m_nginx->start());
}

void TestInterruptedUpdate::killedAnywhereEndsWhole_data()
{
    QTest::addColumn<QString>("cacheRoot");
    QTest::newRow("cache beside the installation") << QString();
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        QTest::newRow("cache on another volume") << QStringLiteral("/dev/shm");
}

void TestInterruptedUpdate::killedAnywhereEndsWhole()
{
    QFETCH(QString, cacheRoot);
    TestInstall install;
    QVERIFY(install.isValid());
    QTemporaryDir otherVolume(cacheRoot + QStringLiteral("/update-cache-XXXXXX"));
    const QString cache =
        cacheRoot.isEmpty() ? install.rootPath() + QStringLiteral("/cache") : otherVolume.path();
    install.writeConfig(
        {{QStringLiteral("URL"), m_nginx->url()}, {QStringLiteral("Cache"), cache}});

    KillFigures figures;
    figures.applyUs = measureApply(install, cache);
    for (int i = 0; i < DownloadKills + ApplyKills; ++i) {
        resetInstallation(install, cache);
        killOnce(install, i, &figures);
        checkWholeAfterKill(install.appDir());
        if (QTest::currentTestFailed())
            return;
        const bool leftJournal = QFileInfo::exists(journalPath(install));
        if (leftJournal && figures.recoveryUs == 0)
            figures.recoveryUs = timeToRecover(install);
        else if (leftJournal)
            interruptRecovery(install, figures.recoveryUs * (6 + i % 5) / 10, &figures);
        const UpdaterRun next = install.run({QStringLiteral("console")});
        // Exit code 1 with success is "nothing to do": the killed run had committed.
        const QJsonObject report = QJsonDocument::fromJson(next.output).object();
        QVERIFY2(
            next.finished && report.value(QStringLiteral("success")).toBool(),
            qPrintable(
                QStringLiteral("kill point %1: %2").arg(i).arg(QString::fromUtf8(next.output))));
        checkEndState(install.appDir());
        if (QTest::currentTestFailed())
            return;
    }
    reportFigures(figures);
    // Timing varies with the machine's load; most kills still land in the apply.
    QVERIFY(figures.inApply >= ApplyKills / 4);
}

// Kill i: by time during the download, or after the journal appeared during the apply.
void TestInterruptedUpdate::killOnce(const TestInstall &install, int i, KillFigures *figures)
{
    if (i < DownloadKills) {
        QProcess *run = install.start({QStringLiteral("console")});
        run->waitForStarted(10000);
        QThread::msleep(60 + 70 * i);
        run->kill();
        run->waitForFinished(10000);
        delete run;
    } else {
        // From the journal's appearance to past the end of the apply, denser early on:
        // the first steps of an apply are the quick ones.
        const double share = double(i - DownloadKills) / (ApplyKills - 1);
        bool sawJournal = false;
        runUntilJournal(install, qint64(figures->applyUs * 1.2 * share * share), &sawJournal);
    }
    ++figures->points;
    QFile journal(journalPath(install));
    if (journal.open(QIODevice::ReadOnly)) {
        ++figures->inApply;
        const QJsonObject object = QJsonDocument::fromJson(journal.readAll()).object();
        ++figures->states[object.value(QStringLiteral("state")).toString()];
    }
}

void TestInterruptedUpdate::reportFigures(const KillFigures &figures) const
{
    QStringList states;
    for (auto it = figures.states.cbegin(); it != figures.states.cend(); ++it)
        states.append(it.key() + QLatin1Char('=') + QString::number(it.value()));
    qInfo("%d kill points, %d landed in the apply (journal states: %s); apply took ~%lld us; "
          "%d recovering runs killed: %d before the recovery ended, %d of them after it had "
          "changed files",
          figures.points, figures.inApply, qPrintable(states.join(QLatin1Char(' '))),
          figures.applyUs, figures.recoveryKills, figures.recoveryCut, figures.recoveryMidway);
}

QString TestInterruptedUpdate::journalPath(const TestInstall &install)
{
    return install.appDir() + QStringLiteral("/update_md5.info.journal");
}

void TestInterruptedUpdate::resetInstallation(const TestInstall &install,
                                              const QString &cache) const
{
    const QStringList keep = {QFileInfo(QStringLiteral(UPDATE_BINARY_PATH)).fileName(),
                              QStringLiteral("Host.exe"), QStringLiteral("system.cfg")};
    for (const QString &name :
         QDir(install.appDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString path = install.appDir() + QLatin1Char('/') + name;
        if (!keep.contains(name) && !QDir(path).removeRecursively())
            QFile::remove(path);
    }
    QDir(cache).removeRecursively();
    ServerRelease::install(install.appDir(), m_previous);
    writeFile(install.appDir() + QStringLiteral("/update_md5.info"), m_previousList);
}

// Starts an update, waits for its journal and kills it `delayUs` later (or lets it end
// when the delay is negative). Returns the time the journal was seen, in microseconds.
qint64 TestInterruptedUpdate::runUntilJournal(const TestInstall &install, qint64 delayUs,
                                              bool *sawJournal) const
{
    const QString journal = install.appDir() + QStringLiteral("/update_md5.info.journal");
    QProcess *run = install.start({QStringLiteral("console")});
    run->waitForStarted(10000);
    QElapsedTimer clock;
    clock.start();
    while (!QFileInfo::exists(journal) && run->state() == QProcess::Running &&
           clock.elapsed() < 30000)
        QThread::usleep(20);
    *sawJournal = QFileInfo::exists(journal);
    QElapsedTimer seen;
    seen.start();
    if (delayUs >= 0) {
        while (seen.nsecsElapsed() / 1000 < delayUs)
            QThread::usleep(10);
        run->kill();
    } else {
        while (QFileInfo::exists(journal) && run->state() == QProcess::Running)
            QThread::usleep(20);
    }
    const qint64 visibleUs = seen.nsecsElapsed() / 1000;
    run->waitForFinished(30000);
    delete run;
    return visibleUs;
}

// Each listed path holds the whole previous or the whole new file; nothing is missing
// that the previous release had, and the record is one of the two lists.
void TestInterruptedUpdate::checkWholeAfterKill(const QString &appDir) const
{
    for (auto it = m_next.cbegin(); it != m_next.cend(); ++it) {
        const QString path = appDir + QLatin1Char('/') + it.key();
        const QByteArray content = readFile(path);
        const bool wasThere = m_previous.contains(it.key());
        const bool whole =
            content == it.value() ||
            (wasThere ? content == m_previous.value(it.key()) : !QFileInfo::exists(path));
        QVERIFY2(whole, qPrintable(it.key() + QStringLiteral(" is neither version")));
    }
    const QByteArray record = readFile(appDir + QStringLiteral("/update_md5.info"));
    QVERIFY(record == m_previousList || record == m_nextList);
}

// How long a run takes from its start until it has recovered from a left-over journal.
qint64 TestInterruptedUpdate::timeToRecover(const TestInstall &install) const
{
    const QString journal = install.appDir() + QStringLiteral("/update_md5.info.journal");
    QElapsedTimer clock;
    clock.start();
    QProcess *run = install.start({QStringLiteral("console")});
    while (QFileInfo::exists(journal) && clock.elapsed() < 30000)
        QThread::usleep(20);
    const qint64 elapsedUs = clock.nsecsElapsed() / 1000;
    run->waitForFinished(30000);
    delete run;
    return elapsedUs;
}

// Kills the run that finds the journal while it recovers (or just before it does).
void TestInterruptedUpdate::interruptRecovery(const TestInstall &install, qint64 delayUs,
                                              KillFigures *figures) const
{
    const QStringList before = filesBelow(install.appDir());
    QElapsedTimer clock;
    clock.start();
    QProcess *run = install.start({QStringLiteral("console")});
    while (clock.nsecsElapsed() / 1000 < delayUs)
        QThread::usleep(10);
    run->kill();
    run->waitForFinished(10000);
    delete run;
    ++figures->recoveryKills;
    if (QFileInfo::exists(install.appDir() + QStringLiteral("/update_md5.info.journal"))) {
        ++figures->recoveryCut;
        if (filesBelow(install.appDir()) != before)
            ++figures->recoveryMidway;
    }
    checkWholeAfterKill(install.appDir());
}

void TestInterruptedUpdate::checkEndState(const QString &appDir) const
{
    QStringList expected = {QStringLiteral("Host.exe"), QStringLiteral("system.cfg"),
                            QFileInfo(QStringLiteral(UPDATE_BINARY_PATH)).fileName(),
                            QStringLiteral("update_md5.info")};
    for (auto it = m_next.cbegin(); it != m_next.cend(); ++it) {
        expected.append(it.key());
        QVERIFY2(readFile(appDir + QLatin1Char('/') + it.key()) == it.value(),
                 qPrintable(it.key()));
        const QByteArray previous = m_previous.value(it.key());
        if (m_previous.contains(it.key()) && previous != it.value()) {
            expected.append(it.key() + QStringLiteral(".old"));
            QVERIFY2(readFile(appDir + QLatin1Char('/') + it.key() + QStringLiteral(".old")) ==
                         previous,
                     qPrintable(it.key() + QStringLiteral(".old")));
        }
    }
    expected.sort();
    QCOMPARE(filesBelow(appDir), expected);
    QCOMPARE(readFile(appDir + QStringLiteral("/update_md5.info")), m_nextList);
}

// One whole run: how long its journal is visible, to spread the kills over the apply.
qint64 TestInterruptedUpdate::measureApply(const TestInstall &install, const QString &cache)
{
    resetInstallation(install, cache);
    bool sawJournal = false;
    const qint64 visibleUs = runUntilJournal(install, -1, &sawJournal);
    checkEndState(install.appDir());
    return sawJournal ? qMax<qint64>(visibleUs, 1000) : 20000;
}

// Regression: killed in the apply with its journal cut short afterwards, the installation was
// taken for whole: restart mode started the host on a mix of two versions, the next run
// reported success on it. Now neither touches anything, and no host starts.
void TestInterruptedUpdate::killedWithItsJournalCutShortIsRefused()
{
    TestInstall install;
    QVERIFY(install.isValid());
    const QString cache = install.rootPath() + QStringLiteral("/cache");
    install.writeConfig(
        {{QStringLiteral("URL"), m_nginx->url()}, {QStringLiteral("Cache"), cache}});
    const qint64 applyUs = measureApply(install, cache);
    bool inApply = false;
    for (int i = 0; i < 20 && !inApply; ++i) {
        resetInstallation(install, cache);
        bool sawJournal = false;
        runUntilJournal(install, applyUs / 2, &sawJournal);
        inApply = QFileInfo::exists(journalPath(install));
    }
    QVERIFY2(inApply, "no kill landed in the apply");
    const QByteArray journal = readFile(journalPath(install));
    writeFile(journalPath(install), journal.left(journal.size() / 2));
    const auto snapshot = [&install] {
        QMap<QString, QByteArray> files;
        for (const QString &name : filesBelow(install.appDir()))
            files.insert(name, readFile(install.appDir() + QLatin1Char('/') + name));
        return files;
    };
    const QMap<QString, QByteArray> before = snapshot();

    QCOMPARE(install.run({QStringLiteral("restart")}).exitCode, 1);
    QCOMPARE(snapshot(), before);
    QVERIFY(!readFile(cache + QStringLiteral("/.~log/update.log")).contains("host started"));
    const UpdaterRun console = install.run({QStringLiteral("console")});
    QCOMPARE(console.exitCode, 1);
    QVERIFY2(QJsonDocument::fromJson(console.output)
                 .object()
                 .value(QStringLiteral("errormsg"))
                 .toString()
                 .endsWith(QStringLiteral("记录文件%1已损坏")
                               .arg(QDir::toNativeSeparators(journalPath(install)))),
             console.output.constData());
    QCOMPARE(snapshot(), before);
}

QTEST_GUILESS_MAIN(TestInterruptedUpdate)
#include "tst_interruptedupdate.moc"
