#include "logfile.h"
#include "updatelog.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// What reaches the handler that was installed before the log: standard error's stand-in.
QStringList shownOnStandardError;

void recordMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    shownOnStandardError.append(message);
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestUpdateLog : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        shownOnStandardError.clear();
        m_previous = qInstallMessageHandler(recordMessage);
        QVERIFY(m_dir.isValid());
    }
    void cleanup()
    {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
    }

    void linesBeforeOpeningAreKept()
    {
        const QString folder = m_dir.filePath(QStringLiteral("kept/.~log"));
        {
            UpdateLog log;
            qCInfo(lcRun, "before the folder is known");
            qInfo("not a line of the run");
            QVERIFY(log.open(folder));
            qCInfo(lcApply, "a.txt: new version in place");
        }
        qCInfo(lcRun, "after the log has gone");
        const QList<QByteArray> lines =
            contentOf(QDir(folder).filePath(UpdateLog::fileName())).split('\n');
        QCOMPARE(lines.size(), 3); // two lines and the end of the last
        QVERIFY(lines.at(0).endsWith(" update.run before the folder is known"));
        QVERIFY(lines.at(1).endsWith(" update.apply a.txt: new version in place"));
        QCOMPARE(shownOnStandardError, QStringList{QStringLiteral("not a line of the run")});
    }

    void standardErrorShowsWhatTheRulesEnable_data()
    {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<int>("shown");
        QTest::newRow("no rules: silent") << QString() << 0;
        QTest::newRow("all of ours") << QStringLiteral("update.*=true") << 2;
        QTest::newRow("one category") << QStringLiteral("update.net.info=true") << 1;
    }
    void standardErrorShowsWhatTheRulesEnable()
    {
        QFETCH(QString, rules);
        QFETCH(int, shown);
        const QDir folder(m_dir.filePath(QString::fromLatin1(QTest::currentDataTag())));
        UpdateLog log;
        QLoggingCategory::setFilterRules(rules);
        QVERIFY(log.open(folder.path()));
        qCInfo(lcNet, "GET somewhere");
        qCInfo(lcCheck, "a.txt: size and MD5 right");
        QCOMPARE(shownOnStandardError.size(), shown);
        // The file takes both whatever the rules say.
        QCOMPARE(contentOf(folder.filePath(UpdateLog::fileName())).count('\n'), 2);
    }

    void rotatesKeepingOnePreviousFile()
    {
        const QDir folder(m_dir.filePath(QStringLiteral("rotate")));
        const QByteArray filler(1000, 'x');
        UpdateLog log;
        QVERIFY(log.open(folder.path()));
        for (int i = 0; i < 2500; ++i) // about 2.5 MiB: two rotations
            qCInfo(lcFetch, "%d %s", i, filler.constData());
        QCOMPARE(folder.entryList(QDir::Files),
                 QStringList({UpdateLog::fileName(), UpdateLog::previousFileName()}));
        const qint64 current = QFileInfo(folder.filePath(UpdateLog::fileName())).size();
        const qint64 previous = QFileInfo(folder.filePath(UpdateLog::previousFileName())).size();
        QVERIFY(current <= UpdateLog::RotateBytes);
        QVERIFY(previous <= UpdateLog::RotateBytes);
        QVERIFY(previous > UpdateLog::RotateBytes - 2 * filler.size());
        QVERIFY(contentOf(folder.filePath(UpdateLog::fileName())).contains(" 2499 xxx"));
    }

    void aLogThatCannotBeWrittenCostsOnlyItsLines()
    {
        // A file where the folder should be: as root, nothing else stops the folder.
        const QString blocked = m_dir.filePath(QStringLiteral("blocked"));
        QFile file(blocked);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        UpdateLog log;
        QVERIFY(!log.open(blocked + QStringLiteral("/.~log")));
        qCInfo(lcRun, "goes nowhere");
        QCOMPARE(shownOnStandardError, QStringList());
    }

private:
    QTemporaryDir m_dir;
    QtMessageHandler m_previous = nullptr;
};

QTEST_GUILESS_MAIN(TestUpdateLog)
#include "tst_updatelog.moc"
