// The real `update console`, killed with SIGKILL in the middle of a large download and run
// again: nothing partial may ever stand under a listed name, and the second run finishes.
#include "nginxserver.h"
#include "serverrelease.h"
#include "testfiles.h"
#include "testinstall.h"

#include <QProcess>
#include <QTest>

class TestCrashSafety : public QObject
{
    Q_OBJECT
private slots:
    void killedMidDownloadThenCompletes()
    {
        QTemporaryDir served;
        QVERIFY(served.isValid());
        QFile::setPermissions(served.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                 QFileDevice::ExeOther);
        const QMap<QString, QByteArray> files = {
            {QStringLiteral("a_small.txt"), "small, fetched first"},
            {QStringLiteral("big.bin"), randomBytes(20 * 1024 * 1024)},
            {QStringLiteral("data/z_after.txt"), "fetched last"},
        };
        ServerRelease::writeVersion(served.path(), QStringLiteral("v2"), files);
        ServerRelease::writeDescription(served.path(), 0, QStringLiteral("v2"),
                                        QStringLiteral("2.0"));
        NginxServer nginx(served.path());
        nginx.setServerDirectives(QStringLiteral("location = /v2/big.bin { limit_rate 4m; }"));
        QVERIFY(nginx.start());

        TestInstall install;
        QVERIFY(install.isValid());
        const QString cache = install.rootPath() + QStringLiteral("/cache");
        install.writeConfig(
            {{QStringLiteral("URL"), nginx.url()}, {QStringLiteral("Cache"), cache}});
        const QString appDir = install.appDir();

        QProcess *first = install.start({QStringLiteral("console")});
        QVERIFY(first->waitForStarted(10000));
        // A slow start must not let the kill come before the small file is in the cache.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(cache + QStringLiteral("/a_small.txt")), 30000);
        QTest::qWait(1000); // 20 MB at 4 MB/s: big.bin is well under way
        QCOMPARE(first->state(), QProcess::Running);
        first->kill();
        QVERIFY(first->waitForFinished(10000));
        delete first;

        // Really cut short: the first file was done, big.bin was not.
        QVERIFY(QFile::exists(cache + QStringLiteral("/a_small.txt")));
        QVERIFY(!QFile::exists(appDir + QStringLiteral("/big.bin")));
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            for (const QString &folder : {cache, appDir}) {
                const QString path = folder + QLatin1Char('/') + it.key();
                if (QFile::exists(path))
                    QVERIFY2(readFile(path) == it.value(), qPrintable(path + " is partial"));
            }
        }

        const UpdaterRun second = install.run({QStringLiteral("console")}, 60000);
        QVERIFY(second.finished);
        QVERIFY2(second.exitCode == 0, second.output.constData());
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            QVERIFY2(readFile(appDir + QLatin1Char('/') + it.key()) == it.value(),
                     qPrintable(it.key()));
        // The file completed before the kill was taken from the cache, not fetched again.
        QCOMPARE(nginx.requestedPaths().count(QStringLiteral("/v2/a_small.txt")), 1);
    }
};

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
