// Moving downloaded files into the installation. Every file is already in the cache, so
// no request is sent and the whole run happens inside the constructor.
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
#ifdef Q_OS_WIN
        QSKIP("Windows files have no execute permission to keep");
#endif
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

    void failureAtThirdOfFiveKeepsOrder()
    {
        WorkerFolders folders;
        QList<ManifestEntry> files;
        for (const QString &name : {"1.txt", "2.txt", "3.txt", "4.txt", "5.txt"}) {
            writeFile(folders.installPath(name), "installed " + name.toUtf8());
            files.append(cached(folders, name, "new " + name.toUtf8()));
        }
        writeFile(folders.installPath(QStringLiteral("3.txt.old/keep")), "blocks the delete");
        const WorkerOutcome outcome = runWorker(noServer, folders, files);
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.success);
        QCOMPARE(outcome.errorText, QStringLiteral("删除文件3.txt.old失败"));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("1.txt"))), QByteArray("new 1.txt"));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("2.txt"))), QByteArray("new 2.txt"));
        QCOMPARE(readFile(folders.installPath(QStringLiteral("3.txt"))),
                 QByteArray("installed 3.txt"));
        QCOMPARE(filesBelow(folders.cache.path()), QStringList({"3.txt", "4.txt", "5.txt"}));
        QVERIFY(!QFile::exists(folders.installPath(QStringLiteral("4.txt.old"))));
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
    void failedMoveRestoresTheInstalledFile()
    {
        WorkerFolders folders;
        const ManifestEntry entry = cached(folders, QStringLiteral("twice.txt"), "new");
        // The second copy of the entry finds its cache file already moved away.
        const WorkerOutcome outcome = runWorker(noServer, folders, {entry, entry});
        QVERIFY(outcome.finished);
        QVERIFY(!outcome.success);
        QCOMPARE(outcome.errorText, QStringLiteral("覆盖文件twice.txt失败"));
        QCOMPARE(outcome.fails.size(), 0); // emitted inside the constructor
        QCOMPARE(readFile(folders.installPath(QStringLiteral("twice.txt"))), QByteArray("new"));
        QVERIFY(!QFile::exists(folders.installPath(QStringLiteral("twice.txt.old"))));
    }
};

QTEST_GUILESS_MAIN(TestApplyUpdate)
#include "tst_applyupdate.moc"
