#include "releasesection.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TstReleaseSection : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void roundTripsThroughQSettings();
    void leavesOtherSectionsReadable();
    void readsSequence_data();
    void readsSequence();
    void parsesExpires_data();
    void parsesExpires();
    void writesExpiresInUtc();

private:
    QString iniPath() const { return m_dir->filePath(QStringLiteral("update.ini")); }
    bool writeIni(const QByteArray &bytes) const
    {
        QFile file(iniPath());
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(bytes) == bytes.size();
    }

    QScopedPointer<QTemporaryDir> m_dir;
};

void TstReleaseSection::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void TstReleaseSection::roundTripsThroughQSettings()
{
    ReleaseSection written;
    written.sequence = 12;
    written.md5List = QByteArray(64, 'a');
    written.sha256List = QByteArray(64, 'b');
    written.expiresText = QStringLiteral("2031-02-03T04:05:06Z");
    written.patchList = QStringLiteral(".~zstd/list.txt");
    written.patchListSha256 = QByteArray(64, 'c');
    {
        QSettings ini(iniPath(), QSettings::IniFormat);
        writeReleaseSection(ini, written);
    }
    const ReleaseSection read = readReleaseSection(iniPath());
    QCOMPARE(read.sequence, qint64(12));
    QCOMPARE(read.md5List, written.md5List);
    QCOMPARE(read.sha256List, written.sha256List);
    QCOMPARE(read.expiresText, written.expiresText);
    QCOMPARE(read.expires, QDateTime(QDate(2031, 2, 3), QTime(4, 5, 6), Qt::UTC));
    QCOMPARE(read.patchList, written.patchList);
    QCOMPARE(read.patchListSha256, written.patchListSha256);
}

void TstReleaseSection::leavesOtherSectionsReadable()
{
    QVERIFY(writeIni("[Summary]\nUpdateType=0\n[Version]\nFolder=v2\nVersion=2.0\n"));
    {
        QSettings ini(iniPath(), QSettings::IniFormat);
        ReleaseSection section;
        section.sequence = 1;
        writeReleaseSection(ini, section);
    }
    const QSettings ini(iniPath(), QSettings::IniFormat);
    QCOMPARE(ini.value(QStringLiteral("Summary/UpdateType")).toInt(), 0);
    QCOMPARE(ini.value(QStringLiteral("Version/Folder")).toString(), QStringLiteral("v2"));
    QVERIFY(!ini.contains(QStringLiteral("Release/Expires")));
    QVERIFY(!ini.contains(QStringLiteral("Release/PatchList")));
    const ReleaseSection read = readReleaseSection(iniPath());
    QVERIFY(!read.hasExpiry());
    QVERIFY(!read.expires.isValid());
}

void TstReleaseSection::readsSequence_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<qint64>("sequence");
    QTest::newRow("number") << QByteArray("[Release]\nSequence=7\n") << qint64(7);
    QTest::newRow("large") << QByteArray("[Release]\nSequence=9000000000\n") << qint64(9000000000);
    QTest::newRow("CR LF") << QByteArray("[Release]\r\nSequence=3\r\n") << qint64(3);
    QTest::newRow("zero") << QByteArray("[Release]\nSequence=0\n") << qint64(0);
    QTest::newRow("negative") << QByteArray("[Release]\nSequence=-3\n") << qint64(0);
    QTest::newRow("not a number") << QByteArray("[Release]\nSequence=seven\n") << qint64(0);
    QTest::newRow("absent") << QByteArray("[Version]\nFolder=v1\n") << qint64(0);
    QTest::newRow("other section") << QByteArray("[Version]\nSequence=5\n") << qint64(0);
}

void TstReleaseSection::readsSequence()
{
    QFETCH(QByteArray, ini);
    QFETCH(qint64, sequence);
    QVERIFY(writeIni(ini));
    const ReleaseSection read = readReleaseSection(iniPath());
    QCOMPARE(read.sequence, sequence);
    QCOMPARE(read.hasSequence(), sequence > 0);
}

void TstReleaseSection::parsesExpires_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("expected");
    const QDateTime noon(QDate(2030, 6, 1), QTime(12, 0), Qt::UTC);
    QTest::newRow("UTC") << QStringLiteral("2030-06-01T12:00:00Z") << noon;
    QTest::newRow("offset") << QStringLiteral("2030-06-01T20:00:00+08:00") << noon;
    QTest::newRow("no zone counts as UTC") << QStringLiteral("2030-06-01T12:00:00") << noon;
    QTest::newRow("garbage") << QStringLiteral("next tuesday") << QDateTime();
    QTest::newRow("no such day") << QStringLiteral("2030-02-30T12:00:00Z") << QDateTime();
}

void TstReleaseSection::parsesExpires()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, expected);
    const QDateTime parsed = parseExpires(text);
    QCOMPARE(parsed.isValid(), expected.isValid());
    if (expected.isValid()) {
        QCOMPARE(parsed, expected);
        QCOMPARE(parsed.timeSpec(), Qt::UTC);
    }
}

void TstReleaseSection::writesExpiresInUtc()
{
    const QDateTime moment(QDate(2030, 6, 1), QTime(20, 0, 5), Qt::OffsetFromUTC, 8 * 3600);
    QCOMPARE(expiresTextFor(moment), QStringLiteral("2030-06-01T12:00:05Z"));
    QCOMPARE(parseExpires(expiresTextFor(moment)), moment);
}

QTEST_GUILESS_MAIN(TstReleaseSection)
#include "tst_releasesection.moc"
