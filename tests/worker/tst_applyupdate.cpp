// Moving downloaded files into the installation. Every file is already in the cache, so
// no request is sent and the whole run happens inside the constructor.
#include "applytransaction.h"
#include "testplatform.h"
#include "workertest.h"

#include <QTest>

using namespace workertest;

namespace {

const QString noServer = QStringLiteral("http://127.0.0.1:1/");

ManifestEntry cached(const WorkerFolders &folders, const QString &path, const QByteArray &bytes)
{
    writeFile(folders.cachePath(path), bytes);
    return entryFor(path, bytes);
}

} // namespace

class TestApplyUpdate : public QObject
{
    Q_OBJECT
private slots:
    void newFileInMissingFolderGetsNoOldCopy()
    {
        WorkerFolders folders;
        const WorkerOutcome outcome =
            runWorker(noServer, folders, {cached(folders, QStringLiteral("a/b/new.txt"), "new")});
        QVERIFY(outcome.finished);
        QVERIFY(outcome.success);
        QCOMPARE(outcome.errorText, QStringLiteral("更新成功"));
        QVERIFY(outcome.fails.isEmpty());
        QCOMPARE(filesBelow(folders.install.path()), QStringList({"a/b/new.txt"}));
        QCOMPARE(filesBelow(folders.cache.path()), QStringList());
    }

    void earlierOldCopyIsReplaced()
    {
        WorkerFolders folders;
        writeFile(folders.installPath(QStringLiteral("f.txt")), "current");
        writeFile(folders.installPath(QStringLiteral("f.txt.old")), "ancient");
        const WorkerOutcome outcome =
            runWorker(noServer, folders, {cached(folders, QStringLiteral("f.txt"), "next")});
        QVERIFY(outcome.finished);
        QVERIFY(outcome.success);
        QCOMPARE(readFile(folders.installPath(QStringLiteral("f.txt"))), QByteArray("next"));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("f.txt.old"))), QByteArray("current"));
    }

    void replacedFileKeepsItsPermissions()
    {
        if (runsOnWindows())
            QSKIP("Windows files have no execute permission to keep");
        WorkerFolders folders;
        const QString tool = folders.installPath(QStringLiteral("bin/tool"));
        writeFile(tool, "v1");
        const auto executable = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                QFileDevice::ExeOther;
        QVERIFY(QFile::setPermissions(tool, executable));
        const WorkerOutcome outcome =
            runWorker(noServer, folders, {cached(folders, QStringLiteral("bin/tool"), "v2")});
        QVERIFY(outcome.success);
        QCOMPARE(readFile(tool), QByteArray("v2"));
        QCOMPARE(QFile::permissions(tool) & ~QFileDevice::Permissions(0x0f00), executable);
    }

    // Regression: a failure at entry k used to leave entries 1..k-1 applied (two versions
    // mixed) and their new files gone from the cache.
    void failureAtThirdOfFiveUndoesEverything()
    {
        WorkerFolders folders;
        QList<ManifestEntry> files;
        const QString longName = QString(252, QLatin1Char('3')); // its ".old" does not fit
        const QStringList names = {"1.txt", "2.txt", longName, "4.txt", "5.txt"};
        for (const QString &name : names) {
            writeFile(folders.installPath(name), "installed " + name.toUtf8());
            if (name != longName)
                writeFile(folders.installPath(name + ".old"), "first " + name.toUtf8());
            files.append(cached(folders, name, "new " + name.toUtf8()));
        }
        const QStringList before = filesBelow(folders.install.path());
        const WorkerOutcome outcome = runWorker(noServer, folders, files);
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.success);
        const QString third = folders.installPath(longName);
        QCOMPARE(outcome.errorText, QStringLiteral("重命名%1为%1.old失败").arg(third));
        QCOMPARE(filesBelow(folders.install.path()), before);
        for (const QString &name : names) {
            QCOMPARE(readFile(folders.installPath(name)), "installed " + name.toUtf8());
            QCOMPARE(readFile(folders.cachePath(name)), "new " + name.toUtf8());
        }
        QCOMPARE(readFile(folders.installPath(QStringLiteral("1.txt.old"))),
                 QByteArray("first 1.txt"));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("2.txt.old"))),
                 QByteArray("first 2.txt"));
    }

    void failedUpdateRemovesTheFoldersItCreated()
    {
        WorkerFolders folders;
        const QString longName = QString(252, QLatin1Char('z'));
        writeFile(folders.installPath(longName), "installed");
        const QList<ManifestEntry> files = {cached(folders, QStringLiteral("a/b/new.txt"), "new"),
                                            cached(folders, longName, "next")};
        const QStringList before = filesBelow(folders.install.path());
        const WorkerOutcome outcome = runWorker(noServer, folders, files);
        QVERIFY(!outcome.success);
        QCOMPARE(filesBelow(folders.install.path()), before);
        QVERIFY(!QFileInfo::exists(folders.installPath(QStringLiteral("a"))));
    }

    void failuresNameTheirFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("obstacle"); // a file to plant in the installation
        QTest::addColumn<QString>("message");      // %I: installation folder
        const QString longName = QString(252, QLatin1Char('n')); // ".old" makes it 256 bytes
        QTest::newRow("left-over backup cannot be deleted")
            << QStringLiteral("f.txt") << QStringList({"f.txt", "f.txt.~pv/x"})
            << QStringLiteral("删除文件f.txt.~pv失败");
        QTest::newRow("left-over staged name cannot be deleted")
            << QStringLiteral("f.txt") << QStringList({"f.txt", ".~nw0/x"})
            << QStringLiteral("删除文件.~nw0失败");
        QTest::newRow("old name too long")
            << longName << QStringList(longName)
            << QStringLiteral("重命名%I/%1为%I/%1.old失败").arg(longName);
        QTest::newRow("folder cannot be created")
            << QStringLiteral("sub/dir/f.txt") << QStringList({"sub"})
            << QStringLiteral("创建目录%I/sub/dir失败");
    }
    void failuresNameTheirFiles()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, obstacle);
        QFETCH(QString, message);
        WorkerFolders folders;
        for (const QString &planted : obstacle)
            writeFile(folders.installPath(planted), "planted");
        const QStringList before = filesBelow(folders.install.path());
        const WorkerOutcome outcome =
            runWorker(noServer, folders, {cached(folders, path, "new content")});
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.success);
        QCOMPARE(outcome.errorText,
                 QString(message).replace(QLatin1String("%I"), folders.install.absolutePath()));
        QCOMPARE(filesBelow(folders.install.path()), before);
        QCOMPARE(readFile(folders.installPath(obstacle.first())), QByteArray("planted"));
        QCOMPARE(readFile(folders.cachePath(path)), QByteArray("new content"));
    }

    // Regression: a failed move after the rename used to leave the installed path empty. A
    // cached file that no longer matches its entry at the swap fails it: the first file, swapped
    // already, gets its previous content back.
    void failedSwapRestoresTheInstalledFile()
    {
        WorkerFolders folders;
        writeFile(folders.installPath(QStringLiteral("a.txt")), "installed a");
        writeFile(folders.installPath(QStringLiteral("b.txt")), "installed b");
        const QList<ManifestEntry> files = {cached(folders, QStringLiteral("a.txt"), "new a"),
                                            cached(folders, QStringLiteral("b.txt"), "new b")};
        writeFile(folders.cachePath(QStringLiteral("b.txt")), "other");
        ApplyTransaction transaction(folders.install,
                                     UpdateJournal::plan(folders.cache, folders.install, files));
        QVERIFY(!transaction.run());
        QCOMPARE(transaction.errorString(), QStringLiteral("更新文件b.txt校验不对"));
        QCOMPARE(transaction.failedFile().absoluteFilePath(),
                 folders.installPath(QStringLiteral("b.txt")));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("a.txt"))), QByteArray("installed a"));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("b.txt"))), QByteArray("installed b"));
        QCOMPARE(filesBelow(folders.install.path()), QStringList({"a.txt", "b.txt"}));
        QCOMPARE(readFile(folders.cachePath(QStringLiteral("a.txt"))), QByteArray("new a"));
    }

    // Regression: the new file copied the mode of a dangling link (0000) or a folder (0755).
    void permissionsComeOnlyFromARegularFile_data()
    {
        QTest::addColumn<QString>("previous");
        QTest::newRow("folder") << QStringLiteral("folder");
        if (!runsOnWindows())
            QTest::newRow("dangling link") << QStringLiteral("link");
    }
    void permissionsComeOnlyFromARegularFile()
    {
        QFETCH(QString, previous);
        WorkerFolders folders;
        const QString tool = folders.installPath(QStringLiteral("tool"));
        if (previous == QLatin1String("folder"))
            writeFile(tool + QStringLiteral("/inside"), "x");
        else
            QVERIFY(QFile::link(folders.installPath(QStringLiteral("nowhere")), tool));
        const ManifestEntry entry = cached(folders, QStringLiteral("tool"), "v2");
        const auto cachedMode = QFile::permissions(folders.cachePath(QStringLiteral("tool")));
        const WorkerOutcome outcome = runWorker(noServer, folders, {entry});
        QVERIFY(outcome.success);
        QCOMPARE(readFile(tool), QByteArray("v2"));
        QCOMPARE(QFile::permissions(tool), cachedMode);
        QVERIFY(QFileInfo::exists(tool + QStringLiteral(".old")) ||
                QFileInfo(tool + QStringLiteral(".old")).isSymLink());
    }

    // Regression: names an earlier run left beside a file were taken for this run's own: an
    // undo "restored" them over files the update never touched, and a commit made a stray
    // backup the file's NAME.old.
    void leftOversAreNotTakenForThisRunsOwn_data()
    {
        QTest::addColumn<bool>("fails");
        QTest::newRow("failing at the first entry") << true;
        QTest::newRow("committed") << false;
    }
    void leftOversAreNotTakenForThisRunsOwn()
    {
        QFETCH(bool, fails);
        WorkerFolders folders;
        const QString first = fails ? QString(252, QLatin1Char('a')) : QStringLiteral("a.txt");
        writeFile(folders.installPath(first), "installed a");
        writeFile(folders.installPath(QStringLiteral("b.txt")), "installed b");
        writeFile(folders.installPath(QStringLiteral("b.txt.old")), "first b");
        const QStringList before = filesBelow(folders.install.path());
        writeFile(folders.installPath(QStringLiteral("b.txt.~pv")), "stray backup");
        writeFile(folders.installPath(QStringLiteral("b.txt.~od")), "stray old copy");
        const WorkerOutcome outcome =
            runWorker(noServer, folders,
                      {cached(folders, first, "new a"), cached(folders, "b.txt", "new b")});
        QCOMPARE(outcome.success, !fails);
        if (fails) {
            QCOMPARE(filesBelow(folders.install.path()), before);
            QCOMPARE(readFile(folders.installPath(QStringLiteral("b.txt"))),
                     QByteArray("installed b"));
            QCOMPARE(readFile(folders.installPath(QStringLiteral("b.txt.old"))),
                     QByteArray("first b"));
        } else {
            QCOMPARE(readFile(folders.installPath(QStringLiteral("b.txt"))), QByteArray("new b"));
            QCOMPARE(readFile(folders.installPath(QStringLiteral("b.txt.old"))),
                     QByteArray("installed b"));
            QCOMPARE(filesBelow(folders.install.path()),
                     QStringList({"a.txt", "a.txt.old", "b.txt", "b.txt.old"}));
        }
    }

    // Regression: a folder replaced by a file was left as NAME.old, and every later update of
    // that file failed to delete it. It moves aside like a file: the commit removes it, an
    // undo puts it back.
    void aFolderAtTheOldNameMovesAside_data()
    {
        QTest::addColumn<bool>("undone");
        QTest::newRow("committed") << false;
        QTest::newRow("undone") << true;
    }
    void aFolderAtTheOldNameMovesAside()
    {
        QFETCH(bool, undone);
        WorkerFolders folders;
        writeFile(folders.installPath(QStringLiteral("d/inside.txt")), "a folder's file");
        QVERIFY(runWorker(noServer, folders, {cached(folders, QStringLiteral("d"), "v2")}).success);
        QCOMPARE(readFile(folders.installPath(QStringLiteral("d.old/inside.txt"))),
                 QByteArray("a folder's file"));

        QList<ManifestEntry> next = {cached(folders, QStringLiteral("d"), "v3")};
        const QString longName = QString(252, QLatin1Char('z')); // its ".old" does not fit
        if (undone) {
            writeFile(folders.installPath(longName), "installed");
            next.append(cached(folders, longName, "next"));
        }
        const QStringList before = filesBelow(folders.install.path());
        const WorkerOutcome outcome = runWorker(noServer, folders, next);
        QCOMPARE(outcome.success, !undone);
        if (undone) {
            QCOMPARE(filesBelow(folders.install.path()), before);
            return;
        }
        QCOMPARE(readFile(folders.installPath(QStringLiteral("d"))), QByteArray("v3"));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("d.old"))), QByteArray("v2"));
        QCOMPARE(filesBelow(folders.install.path()), QStringList({"d", "d.old"}));
    }

    // The staged copy has a short name, so a new file whose ".old" would not fit still fits.
    void newFileWithLongNameIsInstalled()
    {
        WorkerFolders folders;
        const QString longName = QString(252, QLatin1Char('n'));
        const WorkerOutcome outcome =
            runWorker(noServer, folders, {cached(folders, longName, "new content")});
        QVERIFY(outcome.success);
        QCOMPARE(filesBelow(folders.install.path()), QStringList(longName));
    }
};

QTEST_GUILESS_MAIN(TestApplyUpdate)
#include "tst_applyupdate.moc"
