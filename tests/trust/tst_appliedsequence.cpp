#include "appliedsequence.h"

#include "fileops.h"

#include <QTemporaryDir>
#include <QtTest>

class TstAppliedSequence : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void nothingRecordedIsZero();
    void writesBesideTheMd5Record();
    void damagedRecordIsZero_data();
    void damagedRecordIsZero();
    void readsTheDigestBesideTheSequence_data();
    void readsTheDigestBesideTheSequence();
    void floorNeverMovesDown();
    void failedWriteIsReported();

private:
    QScopedPointer<QTemporaryDir> m_dir;
};

void TstAppliedSequence::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void TstAppliedSequence::nothingRecordedIsZero()
{
    bool valid = false;
    QCOMPARE(readAppliedSequence(QDir(m_dir->path()), &valid), qint64(0));
    QVERIFY(valid);
}

void TstAppliedSequence::writesBesideTheMd5Record()
{
    const QDir install(m_dir->path());
    QCOMPARE(appliedSequencePath(install), m_dir->filePath(QStringLiteral("update_sequence.info")));
    // As the commit writes it.
    QVERIFY(fileops::writeAtomically(appliedSequencePath(install), appliedSequenceBytes(41)));
    QVERIFY(fileops::writeAtomically(appliedSequencePath(install), appliedSequenceBytes(42)));
    QFile file(appliedSequencePath(install));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("42\n"));
    bool valid = false;
    QCOMPARE(readAppliedSequence(install, &valid), qint64(42));
    QVERIFY(valid);
    // Only the record itself: no temporary file left beside it.
    QCOMPARE(install.entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("update_sequence.info")});
}

void TstAppliedSequence::damagedRecordIsZero_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("seven\n");
    QTest::newRow("zero") << QByteArray("0\n");
    QTest::newRow("negative") << QByteArray("-5\n");
    QTest::newRow("huge file") << QByteArray(4096, '9');
    QTest::newRow("digest too short") << QByteArray("3 abc\n");
    QTest::newRow("digest in capitals") << QByteArray("3 " + QByteArray(64, 'A') + "\n");
    QTest::newRow("a third field") << QByteArray("3 " + QByteArray(64, 'a') + " x\n");
}

void TstAppliedSequence::damagedRecordIsZero()
{
    QFETCH(QByteArray, content);
    const QDir install(m_dir->path());
    QFile file(appliedSequencePath(install));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    bool valid = true;
    QCOMPARE(readAppliedSequence(install, &valid), qint64(0));
    QVERIFY(!valid);
}

void TstAppliedSequence::readsTheDigestBesideTheSequence_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<qint64>("sequence");
    QTest::addColumn<QByteArray>("digest");
    const QByteArray digest = QByteArray(63, 'a') + 'f';
    QTest::newRow("an older updater's record") << QByteArray("3\n") << qint64(3) << QByteArray();
    QTest::newRow("with the digest") << "3 " + digest + "\n" << qint64(3) << digest;
    QTest::newRow("without the line end") << "12 " + digest << qint64(12) << digest;
}

void TstAppliedSequence::readsTheDigestBesideTheSequence()
{
    QFETCH(QByteArray, content);
    QFETCH(qint64, sequence);
    QFETCH(QByteArray, digest);
    const QDir install(m_dir->path());
    QVERIFY(fileops::writeAtomically(appliedSequencePath(install), content));
    bool valid = false;
    const SequenceRecord record = readSequenceRecord(install, &valid);
    QVERIFY(valid);
    QCOMPARE(record.sequence, sequence);
    QCOMPARE(record.descriptionSha256, digest);
}

// Written as the description verifies and again at the commit: never lower, and a digest
// once recorded for a Sequence stays.
void TstAppliedSequence::floorNeverMovesDown()
{
    const QDir install(m_dir->path());
    const QByteArray five(64, '5');
    QVERIFY(writeSequenceRecord(install, {5, five}));
    QVERIFY(writeSequenceRecord(install, {4, QByteArray(64, '4')}));
    QVERIFY(writeSequenceRecord(install, {5, QByteArray()}));
    QFile file(appliedSequencePath(install));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), "5 " + five + "\n");
    file.close();
    QVERIFY(writeSequenceRecord(install, {6, QByteArray(64, 'f')}));
    QCOMPARE(readSequenceRecord(install).sequence, qint64(6));
    QCOMPARE(readSequenceRecord(install).descriptionSha256, QByteArray(64, 'f'));
}

void TstAppliedSequence::failedWriteIsReported()
{
    // As root permissions do not stop a write; a non-empty folder in the way does.
    const QDir install(m_dir->path());
    QVERIFY(QDir().mkpath(appliedSequencePath(install) + QStringLiteral("/inside")));
    QVERIFY(!fileops::writeAtomically(appliedSequencePath(install), appliedSequenceBytes(3)));
}

QTEST_GUILESS_MAIN(TstAppliedSequence)
#include "tst_appliedsequence.moc"
