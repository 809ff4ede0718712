// A later run that finds an update's journal finishes or undoes that update.
#include "appliedsequence.h"
#include "applytransaction.h"
#include "fileops.h"
#include "sha256.h"
#include "workertest.h"

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
        return ApplyTransaction::recoverIn(folders.install, &error);
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

    void unreadableJournalIsLeftAlone()
    {
        Interrupted run;
        const QString journal = UpdateJournal::pathIn(run.folders.install);
        writeFile(journal, "{\"format\": 99}");
        writeFile(journal + fileops::temporarySuffix(), "half written");
        QVERIFY(run.recover());
        QCOMPARE(readFile(journal), QByteArray("{\"format\": 99}"));
        QVERIFY(!QFileInfo::exists(journal + fileops::temporarySuffix()));
        QCOMPARE(run.installed("a.txt"), QByteArray("previous a.txt"));
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
