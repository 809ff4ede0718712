// Windows only: an installed file that another process holds open without delete sharing
// cannot be renamed to its ".old" name. The holder is a second Windows process
// (file_holder.exe), as a running host or a scanner would be.
#include "workertest.h"

#include <QDir>
#include <QProcess>
#include <QTest>

using namespace workertest;

namespace {

const QString noServer = QStringLiteral("http://127.0.0.1:1/");

// Starts the holder on `path` for `holdMs` and waits until it has the file open.
bool holdFile(QProcess *holder, const QString &path, int holdMs)
{
    holder->start(QStringLiteral(FILE_HOLDER_PATH),
                  {QDir::toNativeSeparators(path), QString::number(holdMs)});
    if (!holder->waitForStarted(10000))
        return false;
    while (holder->waitForReadyRead(10000)) {
        if (holder->readAllStandardOutput().contains("held"))
            return true;
    }
    return false;
}

} // namespace

class TestFilesInUse : public QObject
{
    Q_OBJECT
private slots:
    void fileHeldThroughoutFailsTheRename()
    {
        WorkerFolders folders;
        const QString installed = folders.installPath(QStringLiteral("host.dll"));
        QVERIFY(writeFile(installed, "running version"));
        QVERIFY(writeFile(folders.cachePath(QStringLiteral("host.dll")), "new version"));
        QProcess holder;
        QVERIFY(holdFile(&holder, installed, 120000));

        const WorkerOutcome outcome = runWorker(
            noServer, folders, {entryFor(QStringLiteral("host.dll"), "new version")}, 60000, 60000);
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.success);
        QCOMPARE(outcome.errorText,
                 QStringLiteral("重命名%1为%2失败").arg(installed, installed + ".old"));
        QCOMPARE(readFile(installed), QByteArray("running version"));
        QVERIFY(!QFile::exists(installed + ".old"));
        // The downloaded file stays in the cache for the next run.
        QCOMPARE(readFile(folders.cachePath(QStringLiteral("host.dll"))),
                 QByteArray("new version"));
        holder.kill();
        holder.waitForFinished(10000);
    }
};

QTEST_GUILESS_MAIN(TestFilesInUse)
#include "tst_filesinuse.moc"
