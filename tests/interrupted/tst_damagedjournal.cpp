// A journal that a later run cannot trust is refused whole, as users meet it: real `update`
// processes on journals damaged by hand. Restart mode then starts no host and touches nothing
// (no file outside the installation either); console mode reports it.
#include "applytransaction.h"
#include "digest.h"
#include "serverrelease.h"
#include "testfiles.h"
#include "testinstall.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <functional>

namespace {

using Files = QMap<QString, QByteArray>;

const QStringList Names = {"1.dll", "2.dll", "3.dll"};

Files release(const QByteArray &version)
{
    Files files;
    for (const QString &name : Names)
        files[name] = name.toUtf8() + " of " + version;
    return files;
}

// Every file with its content and every folder (ending in '/') below `dir`, but the log and
// the stand-in host's record of its starts.
Files treeBelow(const QString &dir)
{
    Files entries;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(dir).relativeFilePath(path);
        if (relative.contains(QStringLiteral(".~log")) || relative.endsWith("host-starts.jsonl"))
            continue;
        const bool folder = it.fileInfo().isDir() && !it.fileInfo().isSymLink();
        entries.insert(relative + (folder ? "/" : ""), folder ? QByteArray() : readFile(path));
    }
    return entries;
}

void editJournal(const QString &path, const std::function<void(QJsonObject &)> &edit)
{
    QJsonObject journal = QJsonDocument::fromJson(readFile(path)).object();
    edit(journal);
    writeFile(path, QJsonDocument(journal).toJson());
}

// Makes the first entry name `path`, an added file, with `createdFolder`, to be undone.
void undoOf(const QString &journal, const QString &path, const QString &createdFolder = QString())
{
    editJournal(journal, [&](QJsonObject &object) {
        QJsonArray entries = object.value("entries").toArray();
        QJsonObject first = entries.at(0).toObject();
        first.insert("path", path);
        first.insert("previous", "none");
        first.insert("createdFolder", createdFolder);
        entries.replace(0, first);
        object.insert("entries", entries);
        object.insert("state", "undo");
    });
}

} // namespace

class TestDamagedJournal : public QObject
{
    Q_OBJECT
private slots:
    void refusedWithoutTouchingAnything_data();
    void refusedWithoutTouchingAnything();

private:
    void plantJournal(const TestInstall &install, const QString &cache) const;
    void damage(const QString &kind, const TestInstall &install, const QString &cache) const;
};

// What an update killed right after it wrote its journal leaves: the previous release
// installed, the next one verified in the cache, and the journal.
void TestDamagedJournal::plantJournal(const TestInstall &install, const QString &cache) const
{
    ServerRelease::install(install.appDir(), release("previous"));
    writeFile(install.appDir() + "/update_md5.info", "previous list");
    QList<ManifestEntry> entries;
    const Files next = release("next");
    for (auto it = next.cbegin(); it != next.cend(); ++it) {
        writeFile(cache + '/' + it.key(), it.value());
        entries.append({it.key(), it.value().size(), digestText(it.value())});
    }
    UpdateJournal journal = UpdateJournal::plan(QDir(cache), QDir(install.appDir()), entries);
    journal.writesRecord = true;
    journal.record = "next list";
    QVERIFY(journal.write(QDir(install.appDir())));
}

void TestDamagedJournal::damage(const QString &kind, const TestInstall &install,
                                const QString &cache) const
{
    const QString journal = UpdateJournal::pathIn(QDir(install.appDir()));
    const QString victim = install.rootPath() + "/outside/victim.txt";
    if (kind == "cut short")
        writeFile(journal, readFile(journal).left(readFile(journal).size() / 2));
    else if (kind == "not JSON")
        writeFile(journal, "not a journal");
    else if (kind == "path outside")
        undoOf(journal, "../outside/victim.txt");
    else if (kind == "absolute path")
        undoOf(journal, victim);
    else if (kind == "created folder /")
        undoOf(journal, "keep/x.txt", "/");
    else if (kind == "another cache folder") {
        const QString elsewhere = install.rootPath() + "/elsewhere";
        QVERIFY(QDir().rename(cache, elsewhere) && QDir().mkpath(cache));
        editJournal(journal, [&](QJsonObject &object) { object.insert("cacheDir", elsewhere); });
    } else if (kind == "backup missing") { // swapped, and its backup lost
        writeFile(install.appDir() + "/1.dll", release("next").value("1.dll"));
        editJournal(journal, [](QJsonObject &object) { object.insert("state", "undo"); });
    }
}

void TestDamagedJournal::refusedWithoutTouchingAnything_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message"); // empty: the damaged journal's
    for (const char *kind : {"cut short", "not JSON", "path outside", "absolute path",
                             "created folder /", "another cache folder"})
        QTest::newRow(kind) << QString::fromLatin1(kind) << QString();
    // Not damaged, but the update can be neither finished nor undone.
    QTest::newRow("backup missing") << "backup missing"
                                    << "覆盖文件1.dll失败";
}

// Regression: such journals were ignored (the host started on a mix of two versions) or
// trusted (files outside the installation deleted, a file from elsewhere installed).
void TestDamagedJournal::refusedWithoutTouchingAnything()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    TestInstall install;
    QVERIFY(install.isValid());
    const QString cache = install.rootPath() + "/cache";
    install.writeConfig({{"URL", "http://127.0.0.1:1/"}, {"Cache", cache}});
    plantJournal(install, cache);
    writeFile(install.rootPath() + "/outside/victim.txt", "not the updater's");
    QVERIFY(QDir().mkpath(install.appDir() + "/keep"));
    damage(kind, install, cache);
    const QString journal = UpdateJournal::pathIn(QDir(install.appDir()));
    if (message.isEmpty())
        message = QStringLiteral("上次未完成的更新无法完成或撤销：记录文件%1已损坏")
                      .arg(QDir::toNativeSeparators(journal));
    const Files before = treeBelow(install.rootPath());

    const UpdaterRun restart = install.run({"restart"});
    QCOMPARE(restart.exitCode, 1);
    const QByteArray log = readFile(cache + "/.~log/update.log");
    QVERIFY2(log.contains("done, exit code 1") && !log.contains("host started"), log.constData());
    QCOMPARE(treeBelow(install.rootPath()), before);

    const UpdaterRun console = install.run({"console"});
    QCOMPARE(console.exitCode, 1);
    QCOMPARE(QJsonDocument::fromJson(console.output).object().value("errormsg").toString(),
             message);
    QCOMPARE(treeBelow(install.rootPath()), before);
    QVERIFY(!QFileInfo::exists(install.appDir() + "/host-starts.jsonl"));
}

QTEST_GUILESS_MAIN(TestDamagedJournal)
#include "tst_damagedjournal.moc"
