// A later run that finds an update's journal finishes or undoes that update.
#include "appliedsequence.h"
#include "applytransaction.h"
#include "fileops.h"
#include "sha256.h"
#include "workertest.h"

#include "updatenames.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace workertest;

namespace {

const QStringList Names = {"a.txt", "sub/b.txt", "new/c.txt"}; // c.txt is added

struct Interrupted
{
    WorkerFolders folders;
    UpdateJournal journal;

    // The previous release installed, the next one verified in the cache, nothing swapped.
    Interrupted()
    {
        QList<ManifestEntry> files;
        for (const QString &name : Names) {
            if (name != QLatin1String("new/c.txt"))
                writeFile(folders.installPath(name), "previous " + name.toUtf8());
            writeFile(folders.cachePath(name), "next " + name.toUtf8());
            files.append(entryFor(name, "next " + name.toUtf8()));
        }
        writeFile(folders.installPath(QStringLiteral("a.txt.old")), "first a.txt");
        writeFile(folders.installPath(QStringLiteral("update_md5.info")), "previous list");
        journal = UpdateJournal::plan(folders.cache, folders.install, files);
        journal.writesRecord = true;
        journal.record = "next list";
    }
    bool write(UpdateJournal::State state)
    {
        journal.state = state;
        return journal.write(folders.install);
    }
    bool recover() const
    {
        QString error;
        return ApplyTransaction::recoverIn(folders.install, folders.cache, &error);
    }
    QByteArray installed(const QString &name) const { return readFile(folders.installPath(name)); }
    static QByteArray descriptionSha256() { return sha256Hex("the signed update.ini"); }
    // As a signed release's journal: each file's SHA-256, the release's Sequence and its
    // description's digest; `other`
    // lists another digest for that path.
    void sign(qint64 sequence, const QString &other = QString())
    {
        Sha256List digests;
        for (const JournalEntry &entry : qAsConst(journal.entries))
            digests.insert(entry.file.path, entry.file.path == other
                                                ? sha256Hex("something else")
                                                : sha256Hex("next " + entry.file.path.toUtf8()));
        journal.release = VerifiedRelease::restored(sequence, descriptionSha256(), digests);
    }
};

} // namespace

class TestApplyRecovery : public QObject
{
    Q_OBJECT
private slots:
    void finishesWhenEveryNewFileIsAtHand()
    {
        Interrupted run;
        QVERIFY(run.write(UpdateJournal::State::Apply));
        QVERIFY(run.recover());
        for (const QString &name : Names)
            QCOMPARE(run.installed(name), "next " + name.toUtf8());
        QCOMPARE(run.installed("a.txt.old"), QByteArray("previous a.txt"));
        QCOMPARE(run.installed("sub/b.txt.old"), QByteArray("previous sub/b.txt"));
        QCOMPARE(run.installed("update_md5.info"), QByteArray("next list"));
        QCOMPARE(filesBelow(run.folders.install.path()),
                 QStringList({"a.txt", "a.txt.old", "new/c.txt", "sub/b.txt", "sub/b.txt.old",
                              "update_md5.info"}));
        QCOMPARE(filesBelow(run.folders.cache.path()), QStringList());
    }

    // Interrupted after the first swap: that file is new and its previous version has a
    // second name; the earlier ".old" has been put aside.
    void finishesAfterAPartlyDoneSwap()
    {
        Interrupted run;
        QVERIFY(run.write(UpdateJournal::State::Apply));
        const QString a = run.folders.installPath(QStringLiteral("a.txt"));
        QVERIFY(fileops::replace(a + ".old", a + ".~od"));
        QVERIFY(fileops::linkOrCopy(a, a + ".~pv"));
        QVERIFY(fileops::copyFlushed(run.folders.cachePath(QStringLiteral("a.txt")), a + ".~nw"));
        QVERIFY(fileops::replace(a + ".~nw", a));
        QVERIFY(run.recover());
        QVERIFY(run.recover()); // nothing left to do
        QCOMPARE(run.installed("a.txt"), QByteArray("next a.txt"));
        QCOMPARE(run.installed("a.txt.old"), QByteArray("previous a.txt"));
        QCOMPARE(run.installed("update_md5.info"), QByteArray("next list"));
        QVERIFY(!QFileInfo::exists(a + ".~od"));
        QVERIFY(!QFileInfo::exists(UpdateJournal::pathIn(run.folders.install)));
    }

    void undoesWhenANewFileIsMissing()
    {
        Interrupted run;
        const QStringList before = filesBelow(run.folders.install.path());
        QVERIFY(run.write(UpdateJournal::State::Apply));
        QVERIFY(QFile::remove(run.folders.cachePath(QStringLiteral("sub/b.txt"))));
        QVERIFY(run.recover());
        QCOMPARE(filesBelow(run.folders.install.path()), before);
        QCOMPARE(run.installed("a.txt"), QByteArray("previous a.txt"));
        QCOMPARE(run.installed("a.txt.old"), QByteArray("first a.txt"));
        QCOMPARE(run.installed("update_md5.info"), QByteArray("previous list"));
        QVERIFY(!QFileInfo::exists(run.folders.installPath(QStringLiteral("new"))));
        QCOMPARE(readFile(run.folders.cachePath(QStringLiteral("a.txt"))),
                 QByteArray("next a.txt"));
    }

    void anUndoOnceBegunIsFinished()
    {
        Interrupted run;
        const QStringList before = filesBelow(run.folders.install.path());
        QVERIFY(run.write(UpdateJournal::State::Undo));
        QVERIFY(run.recover());
        QCOMPARE(filesBelow(run.folders.install.path()), before);
        QCOMPARE(run.installed("a.txt"), QByteArray("previous a.txt"));
    }

    void aCommitOnceBegunIsFinished()
    {
        Interrupted run;
        QVERIFY(run.write(UpdateJournal::State::Apply));
        QVERIFY(run.recover());
        const QStringList done = filesBelow(run.folders.install.path());
        // The journal reappears as if the run had been cut short before removing it.
        QVERIFY(run.write(UpdateJournal::State::Commit));
        QVERIFY(run.recover());
        QCOMPARE(filesBelow(run.folders.install.path()), done);
        QCOMPARE(run.installed("a.txt.old"), QByteArray("previous a.txt"));
    }

    // Regression: a journal that could not be read was ignored, and the temporary names
    // beside it removed.
    void damagedJournalIsLeftAlone()
    {
        Interrupted run;
        const QString journal = UpdateJournal::pathIn(run.folders.install);
        writeFile(journal, "{\"format\": 99}");
        writeFile(journal + fileops::temporarySuffix(), "half written");
        QString error;
        QVERIFY(!ApplyTransaction::recoverIn(run.folders.install, run.folders.cache, &error));
        QCOMPARE(error, QStringLiteral("上次未完成的更新无法完成或撤销：记录文件%1已损坏")
                            .arg(QDir::toNativeSeparators(journal)));
        QCOMPARE(readFile(journal), QByteArray("{\"format\": 99}"));
        QCOMPARE(readFile(journal + fileops::temporarySuffix()), QByteArray("half written"));
        QCOMPARE(run.installed("a.txt"), QByteArray("previous a.txt"));
    }

    // Regression: an undo whose backup was gone reported success over the new file.
    void anUndoWithoutItsBackupFails()
    {
        Interrupted run;
        QVERIFY(run.write(UpdateJournal::State::Undo));
        writeFile(run.folders.installPath(QStringLiteral("a.txt")), "next a.txt");
        QVERIFY(!run.recover());
        QCOMPARE(run.installed("a.txt"), QByteArray("next a.txt"));
        QVERIFY(QFileInfo::exists(UpdateJournal::pathIn(run.folders.install)));
        QVERIFY(!run.recover()); // and so on, until the backup is back
        writeFile(run.folders.installPath(QStringLiteral("a.txt.~pv")), "previous a.txt");
        QVERIFY(run.recover());
        QCOMPARE(run.installed("a.txt"), QByteArray("previous a.txt"));
    }

    // Regression: the undo deleted whatever stood at an added path.
    void anUndoKeepsAFileItDidNotAdd()
    {
        Interrupted run;
        QVERIFY(run.write(UpdateJournal::State::Undo));
        writeFile(run.folders.installPath(QStringLiteral("new/c.txt")), "the user's own");
        QVERIFY(run.recover());
        QCOMPARE(run.installed("new/c.txt"), QByteArray("the user's own"));
    }

    // Such a journal once took the current folder for the cache, and the commit then removed
    // the installed files as "cached" ones when the run was started in the installation.
    void journalWithoutAbsoluteCacheFolderIsLeftAlone_data()
    {
        QTest::addColumn<QJsonValue>("cacheDir");
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("empty") << QJsonValue(QString());
        QTest::newRow("relative") << QJsonValue(QStringLiteral("cache"));
    }
    void journalWithoutAbsoluteCacheFolderIsLeftAlone()
    {
        QFETCH(QJsonValue, cacheDir);
        Interrupted run;
        QVERIFY(run.write(UpdateJournal::State::Apply));
        QVERIFY(run.recover());
        const QStringList done = filesBelow(run.folders.install.path());
        run.journal.state = UpdateJournal::State::Commit;
        QJsonObject journal = QJsonDocument::fromJson(run.journal.toJson()).object();
        journal.remove(QStringLiteral("cacheDir"));
        if (!cacheDir.isUndefined())
            journal.insert(QStringLiteral("cacheDir"), cacheDir);
        const QByteArray json = QJsonDocument(journal).toJson();
        QVERIFY(writeFile(UpdateJournal::pathIn(run.folders.install), json));
        const QString previousCurrent = QDir::currentPath();
        QVERIFY(QDir::setCurrent(run.folders.install.path()));
        const bool recovered = run.recover();
        QVERIFY(QDir::setCurrent(previousCurrent));
        QVERIFY(!recovered); // refused as damaged: nothing is touched
        QCOMPARE(run.installed("a.txt"), QByteArray("next a.txt"));
        QCOMPARE(readFile(UpdateJournal::pathIn(run.folders.install)), json);
        QCOMPARE(filesBelow(run.folders.install.path()),
                 done + QStringList{UpdateNames::journal()});
    }

    void journalRoundTrip()
    {
        Interrupted run;
        run.journal.state = UpdateJournal::State::Commit;
        UpdateJournal read;
        QVERIFY(read.fromJson(run.journal.toJson()));
        QCOMPARE(read.toJson(), run.journal.toJson());
        QCOMPARE(read.entries.size(), 3);
        QCOMPARE(int(read.entries.at(0).previous), int(JournalEntry::Previous::File));
        QCOMPARE(int(read.entries.at(2).previous), int(JournalEntry::Previous::None));
        QCOMPARE(read.entries.at(2).createdFolder, run.folders.installPath(QStringLiteral("new")));
        QCOMPARE(read.record, QByteArray("next list"));
    }

    void signedJournalRoundTrip()
    {
        Interrupted run;
        run.sign(7);
        UpdateJournal read;
        QVERIFY(read.fromJson(run.journal.toJson()));
        QCOMPARE(read.toJson(), run.journal.toJson());
        QCOMPARE(read.release.sequence(), qint64(7));
        QCOMPARE(read.release.sha256Of(read.entries.at(1).file.path), sha256Hex("next sub/b.txt"));
    }

    // The digests as listed, byte for byte: a NUL once ended them in the written journal, so
    // that a run finishing the update after an interruption had other digests.
    void journalKeepsDigestsWithANul()
    {
        Interrupted run;
        const QByteArray withNul("98500190\0b04fd23c", 17);
        run.journal.entries[0].file.md5 = withNul;
        run.journal.release =
            VerifiedRelease::restored(7, QByteArray(), {{run.journal.entries.at(0).file.path,
                                                         withNul + "ff"}});
        UpdateJournal read;
        QVERIFY(read.fromJson(run.journal.toJson()));
        QCOMPARE(read.entries.at(0).file.md5, withNul);
        QCOMPARE(read.release.sha256Of(read.entries.at(0).file.path), withNul + "ff");
    }

    // Readable by any run: an unsigned release's journal names neither.
    void unsignedJournalHasNoSignedFields()
    {
        Interrupted run;
        const QByteArray json = run.journal.toJson();
        QVERIFY(!json.contains("sequence"));
        QVERIFY(!json.contains("sha256"));
        UpdateJournal read;
        QVERIFY(read.fromJson(json));
        QVERIFY(read.release.isNull());
    }

    void signedRollForwardRecordsTheSequenceWithTheList()
    {
        Interrupted run;
        run.sign(7);
        QVERIFY(run.write(UpdateJournal::State::Apply));
        QVERIFY(run.recover());
        QCOMPARE(run.installed("a.txt"), QByteArray("next a.txt"));
        QCOMPARE(run.installed("update_md5.info"), QByteArray("next list"));
        QCOMPARE(run.installed("update_sequence.info"),
                 "7 " + Interrupted::descriptionSha256() + "\n");
    }

    void aSignedCommitOnceBegunWritesTheSequence()
    {
        Interrupted run;
        run.sign(3);
        QVERIFY(run.write(UpdateJournal::State::Apply));
        QVERIFY(run.recover());
        QVERIFY(QFile::remove(appliedSequencePath(run.folders.install)));
        QVERIFY(run.write(UpdateJournal::State::Commit));
        QVERIFY(run.recover());
        QCOMPARE(readAppliedSequence(run.folders.install), qint64(3));
    }

    // Regression: a cached file whose size and MD5 match is not rolled forward when the
    // signed release lists another SHA-256 for it.
    void signedRecoveryUndoesAFileThatFailsItsSha256()
    {
        Interrupted run;
        run.sign(7, run.journal.entries.at(1).file.path);
        const QStringList before = filesBelow(run.folders.install.path());
        QVERIFY(run.write(UpdateJournal::State::Apply));
        QVERIFY(run.recover());
        QCOMPARE(filesBelow(run.folders.install.path()), before);
        QCOMPARE(run.installed("sub/b.txt"), QByteArray("previous sub/b.txt"));
        QCOMPARE(run.installed("update_md5.info"), QByteArray("previous list"));
    }
};

QTEST_GUILESS_MAIN(TestApplyRecovery)
#include "tst_applyrecovery.moc"
