// Windows only, run under Wine: an installed file that another process holds open without
// delete sharing cannot be replaced until it lets go; the holder is a second Windows process
// (file_holder.exe), as a running host or a scanner would be. And folders whose names the
// ANSI code page cannot express.
#include "applytransaction.h"
#include "fileops.h"
#include "workertest.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

using namespace workertest;

namespace {

const QString noServer = QStringLiteral("http://127.0.0.1:1/");

// Starts the holder on `path` for `holdMs` and waits until it has the file open; with
// `noWriteSharing` nobody else may open it for writing meanwhile.
bool holdFile(QProcess *holder, const QString &path, int holdMs, bool noWriteSharing = false)
{
    QStringList arguments = {QDir::toNativeSeparators(path), QString::number(holdMs)};
    if (noWriteSharing)
        arguments.append(QStringLiteral("nowrite"));
    holder->start(QStringLiteral(FILE_HOLDER_PATH), arguments);
    if (!holder->waitForStarted(10000))
        return false;
    while (holder->waitForReadyRead(10000)) {
        if (holder->readAllStandardOutput().contains("held"))
            return true;
    }
    return false;
}

// The 8.3 short name the file system gives the entry at `path`; empty without one.
QString shortNameOf(const QString &path)
{
    wchar_t buffer[MAX_PATH];
    const QString native = QDir::toNativeSeparators(path);
    const DWORD length =
        GetShortPathNameW(reinterpret_cast<const wchar_t *>(native.utf16()), buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return QString();
    return QFileInfo(QString::fromWCharArray(buffer, int(length))).fileName();
}

DWORD attributesOf(const QString &path)
{
    return GetFileAttributesW(
        reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()));
}

bool setAttributes(const QString &path, DWORD attributes)
{
    return SetFileAttributesW(
               reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
               attributes) != 0;
}

constexpr DWORD ReadOnlyHidden = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;

} // namespace

class TestWindowsApply : public QObject
{
    Q_OBJECT
private slots:
    void releasedDuringTheRetriesIsReplaced();
    void heldThroughoutFailsAfterTheRetries();
    void foldersOutsideTheAnsiCodePage();
    void readOnlyFilesKeepTheirAttributes_data();
    void readOnlyFilesKeepTheirAttributes();
    void flushWaitsForAFileInUse();
    void shortNameOfAnotherInstalledName_data();
    void shortNameOfAnotherInstalledName();
};

// The holder lets go after a second and a half; the retries (about five seconds in all)
// outlast it, so the update goes through.
void TestWindowsApply::releasedDuringTheRetriesIsReplaced()
{
    WorkerFolders folders;
    const QString installed = folders.installPath(QStringLiteral("host.dll"));
    QVERIFY(writeFile(installed, "running version"));
    QVERIFY(writeFile(folders.cachePath(QStringLiteral("host.dll")), "new version"));
    QProcess holder;
    QVERIFY(holdFile(&holder, installed, 1500));

    QElapsedTimer clock;
    clock.start();
    const WorkerOutcome outcome = runWorker(
        noServer, folders, {entryFor(QStringLiteral("host.dll"), "new version")}, 60000, 60000);
    QVERIFY(outcome.finished);
    QVERIFY2(outcome.success, qPrintable(outcome.errorText));
    QVERIFY(clock.elapsed() >= 1000); // it waited for the holder
    QCOMPARE(readFile(installed), QByteArray("new version"));
    QCOMPARE(readFile(installed + ".old"), QByteArray("running version"));
    if (holder.state() != QProcess::NotRunning)
        QVERIFY(holder.waitForFinished(10000));
    QCOMPARE(holder.exitCode(), 0); // it held the file and let go as planned
}

void TestWindowsApply::heldThroughoutFailsAfterTheRetries()
{
    WorkerFolders folders;
    const QString installed = folders.installPath(QStringLiteral("host.dll"));
    QVERIFY(writeFile(installed, "running version"));
    QVERIFY(writeFile(folders.cachePath(QStringLiteral("host.dll")), "new version"));
    QProcess holder;
    QVERIFY(holdFile(&holder, installed, 120000));

    QElapsedTimer clock;
    clock.start();
    const WorkerOutcome outcome = runWorker(
        noServer, folders, {entryFor(QStringLiteral("host.dll"), "new version")}, 60000, 60000);
    QVERIFY(outcome.finished);
    QVERIFY(!outcome.success);
    QVERIFY2(clock.elapsed() >= 4000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(outcome.errorText, QStringLiteral("覆盖文件host.dll失败"));
    QCOMPARE(readFile(installed), QByteArray("running version"));
    // The downloaded file stays in the cache for the next run.
    QCOMPARE(readFile(folders.cachePath(QStringLiteral("host.dll"))), QByteArray("new version"));
    holder.kill();
    holder.waitForFinished(10000);
}

// Regression: a read-only installed file or NAME.old denied access to the replace and the
// delete, which was taken for a file in use and failed after five seconds of retries. The
// new file gets the previous one's attributes; an undone update puts back the previous file
// with its own.
void TestWindowsApply::readOnlyFilesKeepTheirAttributes_data()
{
    QTest::addColumn<bool>("undone");
    QTest::newRow("committed") << false;
    QTest::newRow("undone by a later entry's failure") << true;
}

void TestWindowsApply::readOnlyFilesKeepTheirAttributes()
{
    QFETCH(bool, undone);
    WorkerFolders folders;
    const QString host = folders.installPath(QStringLiteral("host.dll"));
    QVERIFY(writeFile(host, "installed"));
    QVERIFY(writeFile(host + ".old", "first"));
    QVERIFY(setAttributes(host, ReadOnlyHidden) && setAttributes(host + ".old", ReadOnlyHidden));
    const QList<ManifestEntry> files = {entryFor(QStringLiteral("host.dll"), "new"),
                                        entryFor(QStringLiteral("z.dll"), "new z")};
    QVERIFY(writeFile(folders.cachePath(QStringLiteral("host.dll")), "new"));
    QVERIFY(writeFile(folders.cachePath(QStringLiteral("z.dll")), undone ? "tampered" : "new z"));
    ApplyTransaction transaction(folders.install,
                                 UpdateJournal::plan(folders.cache, folders.install, files));
    QCOMPARE(transaction.run(), !undone);
    if (undone) {
        QCOMPARE(transaction.errorString(), QStringLiteral("更新文件z.dll校验不对"));
        QCOMPARE(readFile(host), QByteArray("installed"));
        QCOMPARE(readFile(host + ".old"), QByteArray("first"));
    } else {
        QCOMPARE(readFile(host), QByteArray("new"));
        QCOMPARE(readFile(host + ".old"), QByteArray("installed"));
        QVERIFY(!QFileInfo::exists(host + ".~od"));
    }
    QCOMPARE(attributesOf(host) & ReadOnlyHidden, ReadOnlyHidden);
    QCOMPARE(attributesOf(host + ".old") & ReadOnlyHidden, ReadOnlyHidden);
}

// Regression: a flush met a file that another process held without write sharing and failed
// at once; it waits for the file as the renames do.
void TestWindowsApply::flushWaitsForAFileInUse()
{
    WorkerFolders folders;
    const QString path = folders.installPath(QStringLiteral("held.bin"));
    QVERIFY(writeFile(path, "content"));
    QProcess holder;
    QVERIFY(holdFile(&holder, path, 3000, true));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(fileops::flushFile(path));
    QVERIFY(clock.elapsed() >= 500); // it waited for the holder
    if (holder.state() != QProcess::NotRunning)
        QVERIFY(holder.waitForFinished(10000));
    QCOMPARE(holder.exitCode(), 0);
}

// Thai is in neither code page 936 nor 1252: a user folder of that name must still update.
void TestWindowsApply::foldersOutsideTheAnsiCodePage()
{
    QTemporaryDir root;
    const QString user = root.filePath(QStringLiteral("ผู้ใช้"));
    QVERIFY(QString::fromLocal8Bit(user.toLocal8Bit()) != user);
    const QDir install(user + QStringLiteral("/app")), cache(user + QStringLiteral("/cache"));
    QVERIFY(writeFile(install.filePath(QStringLiteral("data/a.txt")), "old a"));
    QVERIFY(writeFile(cache.filePath(QStringLiteral("data/a.txt")), "new a"));
    QVERIFY(writeFile(cache.filePath(QStringLiteral("new.txt")), "new file"));
    CDownloadThread worker(noServer, cache, install,
                           {entryFor(QStringLiteral("data/a.txt"), "new a"),
                            entryFor(QStringLiteral("new.txt"), "new file")});
    worker.start();
    QVERIFY(waitForThreadEnd(&worker, 30000));
    QVERIFY2(worker.success(), qPrintable(worker.errorText()));
    QCOMPARE(readFile(install.filePath(QStringLiteral("data/a.txt"))), QByteArray("new a"));
    QCOMPARE(readFile(install.filePath(QStringLiteral("data/a.txt.old"))), QByteArray("old a"));
    QCOMPARE(readFile(install.filePath(QStringLiteral("new.txt"))), QByteArray("new file"));
}

// "LONGFI~1.TXT" for an installed "Long file name.txt" would change the file the list
// names otherwise; the list is refused before anything is fetched. A new name with '~'
// that aliases nothing is installed as listed.
void TestWindowsApply::shortNameOfAnotherInstalledName_data()
{
    QTest::addColumn<bool>("alias");
    QTest::newRow("short name of an installed file") << true;
    QTest::newRow("tilde name of nothing installed") << false;
}

void TestWindowsApply::shortNameOfAnotherInstalledName()
{
    QFETCH(bool, alias);
    WorkerFolders folders;
    const QString longPath = folders.installPath(QStringLiteral("sub folder/Long file name.txt"));
    writeFile(longPath, "installed");
    const QString shortFolder = shortNameOf(QFileInfo(longPath).absolutePath());
    const QString shortFile = shortNameOf(longPath);
    if (shortFolder.isEmpty() || shortFile.isEmpty() || shortFile == QFileInfo(longPath).fileName())
        QSKIP("This file system gives no short names");
    const QString path = alias ? shortFolder + QStringLiteral("/") + shortFile
                               : QStringLiteral("sub folder/NEWFIL~9.TXT");
    const QStringList before = filesBelow(folders.root.path());

    const WorkerOutcome outcome = runWorker(noServer, folders, {entryFor(path, "new")});
    QVERIFY(outcome.finished);
    QVERIFY(!outcome.success);
    if (alias) {
        QCOMPARE(outcome.errorText, QStringLiteral("更新文件%1路径不合法").arg(path));
        QCOMPARE(filesBelow(folders.root.path()), before);
    } else {
        // Not refused: it went on to the (absent) server.
        QVERIFY2(!outcome.errorText.contains(QStringLiteral("路径不合法")),
                 qPrintable(outcome.errorText));
    }
    QCOMPARE(readFile(longPath), QByteArray("installed"));
}

QTEST_GUILESS_MAIN(TestWindowsApply)
#include "tst_windowsapply.moc"
