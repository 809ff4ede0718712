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

void TstAppliedSequence::failedWriteIsReported()
{
    // As root permissions do not stop a write; a non-empty folder in the way does.
    const QDir install(m_dir->path());
    QVERIFY(QDir().mkpath(appliedSequencePath(install) + QStringLiteral("/inside")));
    QVERIFY(!fileops::writeAtomically(appliedSequencePath(install), appliedSequenceBytes(3)));
}

QTEST_GUILESS_MAIN(TstAppliedSequence)
#include "tst_appliedsequence.moc"
