// The updater as a real process on a machine without a display: console and restart mode
// fall back to the offscreen platform, windowed mode fails at once.
#include "testinstall.h"
#include "testplatform.h"

#include <QtTest>

namespace {

const QByteArray MissingUrlReport =
    R"({"errormsg":"升级地址不合法:","success":false,"update":false})";

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void windowedModeWithoutDisplayWaitedForEver_data();
    void windowedModeWithoutDisplayWaitedForEver();
    void consoleModeWithoutDisplay_data();
    void consoleModeWithoutDisplay();
    void restartModeWithoutDisplay_data();
    void restartModeWithoutDisplay();
};

void TestPlatform::initTestCase()
{
    // The updaters started here inherit this environment: no display, no chosen platform.
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        qunsetenv(name);
}

void TestPlatform::windowedModeWithoutDisplayWaitedForEver_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no argument") << QStringList();
    QTest::newRow("other argument") << QStringList{"now"};
    QTest::newRow("unknown option before console") << QStringList{"-foo", "console"};
}

// Its first dialog waited offscreen, where nobody could see it, holding the instance guard.
void TestPlatform::windowedModeWithoutDisplayWaitedForEver()
{
    if (runsOnWindows())
        QSKIP("Windows always has a display: the windows platform starts without DISPLAY");
    QFETCH(QStringList, arguments);
    TestInstall install;
    QVERIFY(install.isValid());
    // No "system.cfg": windowed mode would show the configuration error and wait.
    const UpdaterRun run = install.run(arguments, 10000);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.output, QByteArray());
    QVERIFY2(run.errors.contains("no Qt platform plugin could be initialized"),
             run.errors.constData());
    QCOMPARE(install.hostStarts().size(), 0);
}

void TestPlatform::consoleModeWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("console") << QStringList{"console"};
    QTest::newRow("CONSOLE") << QStringList{"CONSOLE"};
    QTest::newRow("after -style fusion") << QStringList{"-style", "fusion", "console"};
    QTest::newRow("after --style=fusion") << QStringList{"--style=fusion", "console"};
    QTest::newRow("after -reverse") << QStringList{"-reverse", "Console"};
}

void TestPlatform::consoleModeWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    TestInstall install;
    QVERIFY(install.isValid());
    const UpdaterRun run = install.run(arguments, 30000);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.output, MissingUrlReport);
}

void TestPlatform::restartModeWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("restart") << QStringList{"restart"};
    QTest::newRow("after -qwindowtitle") << QStringList{"-qwindowtitle", "t", "RESTART"};
}

void TestPlatform::restartModeWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    TestInstall install;
    QVERIFY(install.isValid());
    const UpdaterRun run = install.run(arguments, 30000);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QTRY_COMPARE(install.hostStarts().size(), 1);
    QCOMPARE(install.hostStarts().first().arguments,
             QStringList({install.updaterPath(), "no_check"}));
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
