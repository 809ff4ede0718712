// Moving downloaded files into the installation. Every file is already in the cache, so
// no request is sent and the whole run happens inside the constructor.
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
        for (const QString &name : {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"}) {
            writeFile(folders.installPath(name), "installed " + name.toUtf8());
            writeFile(folders.installPath(name + ".old"), "first " + name.toUtf8());
            files.append(cached(folders, name, "new " + name.toUtf8()));
        }
        QFile::remove(folders.installPath(QStringLiteral("3.txt.old")));
        writeFile(folders.installPath(QStringLiteral("3.txt.old/keep")), "blocks the delete");
        const QStringList before = filesBelow(folders.install.path());
        const WorkerOutcome outcome = runWorker(noServer, folders, files);
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.success);
        QCOMPARE(outcome.errorText, QStringLiteral("删除文件3.txt.old失败"));
        QCOMPARE(filesBelow(folders.install.path()), before);
        for (const QString &name : {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"}) {
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
        writeFile(folders.installPath(QStringLiteral("z.txt")), "installed");
        writeFile(folders.installPath(QStringLiteral("z.txt.old/keep")), "blocks the delete");
        const QList<ManifestEntry> files = {cached(folders, QStringLiteral("a/b/new.txt"), "new"),
                                            cached(folders, QStringLiteral("z.txt"), "next")};
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
        QTest::newRow("old copy cannot be deleted")
            << QStringLiteral("f.txt") << QStringList({"f.txt", "f.txt.old/x"})
            << QStringLiteral("删除文件f.txt.old失败");
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

    // Regression: a failed move after the rename used to leave the installed path empty.
    void failedSwapRestoresTheInstalledFile()
    {
        WorkerFolders folders;
        writeFile(folders.installPath(QStringLiteral("a.txt")), "installed a");
        writeFile(folders.installPath(QStringLiteral("b.txt")), "installed b");
        // A non-empty folder where the second file is staged beside its target.
        writeFile(folders.installPath(QStringLiteral(".~nw1/x")), "in the way");
        const QList<ManifestEntry> files = {cached(folders, QStringLiteral("a.txt"), "new a"),
                                            cached(folders, QStringLiteral("b.txt"), "new b")};
        const WorkerOutcome outcome = runWorker(noServer, folders, files);
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.success);
        QCOMPARE(outcome.errorText, QStringLiteral("覆盖文件b.txt失败"));
        QCOMPARE(outcome.fails.size(), 0); // emitted inside the constructor
        QCOMPARE(readFile(folders.installPath(QStringLiteral("a.txt"))), QByteArray("installed a"));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("b.txt"))), QByteArray("installed b"));
        QCOMPARE(filesBelow(folders.install.path()), QStringList({".~nw1/x", "a.txt", "b.txt"}));
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
