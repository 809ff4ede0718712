#include "cdownloadthread.h"
#include "cupdateprogress.h"
#include "dialogrunner.h"
#include "digest.h"
#include "scriptedserver.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>
#include <memory>

namespace {

const QFileInfo someFile(QStringLiteral("/cache/plugins/a.dll"));
const QString fetchingSomeFile = QStringLiteral("正在下载更新文件a.dll");

// A worker and its progress dialog. The worker's thread is made to finish before either is
// destroyed, as the driver does.
struct ProgressRig
{
    explicit ProgressRig(QString baseUrl = QString(), QList<ManifestEntry> files = {})
        : worker(baseUrl, QDir(cache.path()), QDir(install.path()), files), dialog(&worker)
    {}
    ~ProgressRig()
    {
        worker.quit();
        worker.wait();
    }
    QProgressBar *bar(const char *name) { return dialog.findChild<QProgressBar *>(name); }
    QString desc() { return dialog.findChild<QLabel *>("desc")->text(); }
    // A long text is elided on the line; the whole of it is the tool tip.
    QString wholeDesc()
    {
        auto *label = dialog.findChild<QLabel *>("desc");
        return label->toolTip().isEmpty() ? label->text() : label->toolTip();
    }
    void clickCancel()
    {
        QTest::mouseClick(dialog.findChild<QPushButton *>("cancel"), Qt::LeftButton);
    }

    QTemporaryDir cache;
    QTemporaryDir install;
    CDownloadThread worker;
    CUpdateProgress dialog;
};

// A server that takes the request for "Base/a.dll" and never answers it.
struct StalledServer
{
    StalledServer()
    {
        ScriptedServer::Response response;
        response.ending = ScriptedServer::Ending::NeverAnswer;
        server.setResponse(QStringLiteral("Base/a.dll"), response);
        listening = server.listen();
    }
    QList<ManifestEntry> files() const { return {ManifestEntry{"a.dll", 3, digestText("abc")}}; }
    ScriptedServer server;
    bool listening = false;
};

} // namespace

class TestCUpdateProgress : public QObject
{
    Q_OBJECT
private slots:
    void downloadStarted_data();
    void downloadStarted();
    void downloadProgress_data();
    void downloadProgress();
    void downloadFailReplacesStatusLine();
    void cancelClickedSeveralTimesClosesOnce();
    void escapeAndCloseDuringDownloadKeepDialogOpen();
    void returnCancelsRunningDownload_data();
    void returnCancelsRunningDownload();
    void closesWhenRunEndedInsideConstructor();
    void closesWhenWorkerFails();
    void closesWhenWorkerSucceeds();
};

void TestCUpdateProgress::downloadStarted_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("totalBar");
    QTest::addColumn<int>("progressBar");
    QTest::addColumn<QString>("desc");
    // Before each row: file 1 of 2 (50 %), 40 % of its bytes.
    QTest::newRow("3 of 4") << 3 << 4 << 75 << 0 << fetchingSomeFile;
    QTest::newRow("first of 3") << 0 << 3 << 0 << 0 << fetchingSomeFile;
    QTest::newRow("2 of 3, truncated") << 2 << 3 << 66 << 0 << fetchingSomeFile;
    QTest::newRow("current equals total") << 4 << 4 << 100 << 0 << fetchingSomeFile;
    QTest::newRow("total 0") << 0 << 0 << 50 << 40 << "total为0";
    QTest::newRow("total -1") << 1 << -1 << 50 << 40 << "total为0";
    QTest::newRow("huge current, no overflow")
        << std::numeric_limits<int>::max() << std::numeric_limits<int>::max() << 100 << 0
        << fetchingSomeFile;
}

void TestCUpdateProgress::downloadStarted()
{
    QFETCH(int, current);
    QFETCH(int, total);
    ProgressRig rig;
    emit rig.worker.downloadStarted(QFileInfo(QStringLiteral("/cache/other.txt")), 1, 2);
    emit rig.worker.downloadProgress(2, 5);
    QCOMPARE(rig.bar("total")->value(), 50);
    QCOMPARE(rig.bar("progress")->value(), 40);

    emit rig.worker.downloadStarted(someFile, current, total);
    QTEST(rig.bar("total")->value(), "totalBar");
    QTEST(rig.bar("progress")->value(), "progressBar");
    QTEST(rig.desc(), "desc");
}

void TestCUpdateProgress::downloadProgress_data()
{
    QTest::addColumn<qint64>("received");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("progressBar");
    QTest::addColumn<QString>("desc");
    constexpr qint64 maxBytes = std::numeric_limits<qint64>::max();
    // Before each row: the file announced, half of its bytes received.
    QTest::newRow("1 of 3 bytes, truncated") << qint64(1) << qint64(3) << 33 << fetchingSomeFile;
    QTest::newRow("nothing yet") << qint64(0) << qint64(10) << 0 << fetchingSomeFile;
    QTest::newRow("all bytes") << qint64(3) << qint64(3) << 100 << fetchingSomeFile;
    QTest::newRow("beyond 4 GiB") << qint64(6) << qint64(8) << 75 << fetchingSomeFile;
    QTest::newRow("more than announced") << qint64(5) << qint64(2) << 50 << fetchingSomeFile;
    QTest::newRow("bytesTotal 0") << qint64(5) << qint64(0) << 50 << "bytesTotal为0";
    QTest::newRow("bytesTotal -1") << qint64(5) << qint64(-1) << 50 << "bytesTotal为0";
    // 4294967306 % = 2^32 + 10: narrowed to int it would read as 10 % and move the bar.
    QTest::newRow("hugeOverrunWrapsIntoRange")
        << qint64(4294967306) << qint64(100) << 50 << fetchingSomeFile;
    QTest::newRow("hugeSizeOverflowsProduct") << maxBytes << maxBytes << 100 << fetchingSomeFile;
}

void TestCUpdateProgress::downloadProgress()
{
    QFETCH(qint64, received);
    QFETCH(qint64, total);
    if (QByteArray(QTest::currentDataTag()) == "beyond 4 GiB") {
        received <<= 30;
        total <<= 30;
    }
    ProgressRig rig;
    emit rig.worker.downloadStarted(someFile, 0, 2);
    emit rig.worker.downloadProgress(1, 2);
    QCOMPARE(rig.bar("progress")->value(), 50);

    emit rig.worker.downloadProgress(received, total);
    QTEST(rig.bar("progress")->value(), "progressBar");
    QTEST(rig.desc(), "desc");
    QCOMPARE(rig.bar("total")->value(), 0);
}

void TestCUpdateProgress::downloadFailReplacesStatusLine()
{
    ProgressRig rig;
    emit rig.worker.downloadStarted(someFile, 3, 4);
    emit rig.worker.downloadProgress(1, 4);
    emit rig.worker.downloadFail(someFile, QStringLiteral("下载更新文件a.dll失败"));
    QCOMPARE(rig.desc(), QStringLiteral("下载更新文件a.dll失败"));
    QCOMPARE(rig.bar("total")->value(), 75);
    QCOMPARE(rig.bar("progress")->value(), 25);
}

void TestCUpdateProgress::cancelClickedSeveralTimesClosesOnce()
{
    StalledServer stalled;
    QVERIFY(stalled.listening);
    ProgressRig rig(stalled.server.url(QStringLiteral("Base/")), stalled.files());
    QSignalSpy ended(&rig.dialog, &QDialog::finished);
    const int result = execWith(rig.dialog, [&] {
        for (int i = 0; i < 3; ++i)
            rig.clickCancel();
    });
    QCOMPARE(result, 1);
    QTest::qWait(50);
    QCOMPARE(ended.count(), 1);
    // The thread flags itself finished just after it has emitted `finished`.
    QTRY_VERIFY(rig.worker.isFinished());
    QCOMPARE(rig.desc(), QStringLiteral("正在下载更新文件")); // cancel changes no text
    QVERIFY(rig.dialog.findChild<QPushButton *>("cancel")->isEnabled());
}

// Ending exec() while the worker's thread runs made the driver destroy a running QThread.
void TestCUpdateProgress::escapeAndCloseDuringDownloadKeepDialogOpen()
{
    StalledServer stalled;
    QVERIFY(stalled.listening);
    ProgressRig rig(stalled.server.url(QStringLiteral("Base/")), stalled.files());
    QList<bool> openAfter;
    bool closeRequestAccepted = true;
    const int result = execWith(rig.dialog, [&] {
        QTest::keyClick(&rig.dialog, Qt::Key_Escape);
        openAfter << rig.dialog.isVisible();
        closeRequestAccepted = sendCloseRequest(rig.dialog);
        openAfter << rig.dialog.isVisible();
        rig.dialog.close();
        openAfter << rig.dialog.isVisible();
        QTimer::singleShot(100, &rig.dialog, [&] {
            openAfter << rig.dialog.isVisible();
            rig.clickCancel();
        });
    });
    QCOMPARE(openAfter, QList<bool>({true, true, true, true}));
    QVERIFY(!closeRequestAccepted);
    QCOMPARE(result, 1);
    QTRY_VERIFY(rig.worker.isFinished());
}

void TestCUpdateProgress::returnCancelsRunningDownload_data()
{
    QTest::addColumn<int>("tabs");
    QTest::addColumn<QString>("focused");
    QTest::newRow("cancel as shown") << 0 << "cancel";
    QTest::newRow("Tab around to cancel") << 1 << "cancel";
}

// The focused "取消" became the dialog's auto-default button: Return or Enter ended the
// download, and the user saw "更新失败" with an empty message.
void TestCUpdateProgress::returnCancelsRunningDownload()
{
    QFETCH(int, tabs);
    StalledServer stalled;
    QVERIFY(stalled.listening);
    ProgressRig rig(stalled.server.url(QStringLiteral("Base/")), stalled.files());
    QString focused;
    QList<bool> runningAfter;
    const int result = execWith(rig.dialog, [&] {
        if (!QTest::qWaitForWindowActive(&rig.dialog))
            return;
        for (int i = 0; i < tabs; ++i)
            pressKey(rig.dialog, Qt::Key_Tab);
        focused = focusName();
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
            pressKey(rig.dialog, key);
            QTest::qWait(50); // a quit thread would have finished by now
            runningAfter << (rig.dialog.isVisible() && rig.worker.isRunning());
        }
        rig.clickCancel();
    });
    QTEST(focused, "focused");
    QCOMPARE(runningAfter, QList<bool>({true, true}));
    QCOMPARE(result, 1);
    QTRY_VERIFY(rig.worker.isFinished());
}

void TestCUpdateProgress::closesWhenRunEndedInsideConstructor()
{
    ProgressRig rig; // nothing to fetch: the run is over before the dialog exists
    QVERIFY(rig.worker.success());
    QCOMPARE(execWith(rig.dialog), 1);
    QTRY_VERIFY(rig.worker.isFinished());
}

void TestCUpdateProgress::closesWhenWorkerFails()
{
    ScriptedServer server; // knows no file: every request gets a 404
    QVERIFY(server.listen());
    const QList<ManifestEntry> files{ManifestEntry{"a.dll", 3, digestText("abc")}};
    ProgressRig rig(server.url(QStringLiteral("Base/")), files);
    QCOMPARE(execWith(rig.dialog), 1);
    QVERIFY(!rig.worker.success());
    QVERIFY(!rig.worker.errorText().isEmpty());
    QCOMPARE(rig.wholeDesc(), rig.worker.errorText());
}

void TestCUpdateProgress::closesWhenWorkerSucceeds()
{
    ScriptedServer server;
    const QByteArray body(100000, 'x');
    ScriptedServer::Response response;
    response.body = body;
    server.setResponse(QStringLiteral("Base/b.dat"), response);
    QVERIFY(server.listen());
    const QList<ManifestEntry> files{ManifestEntry{"b.dat", body.size(), digestText(body)}};
    ProgressRig rig(server.url(QStringLiteral("Base/")), files);
    QCOMPARE(execWith(rig.dialog), 1);
    QVERIFY(rig.worker.success());
    QCOMPARE(rig.bar("progress")->value(), 100);
}

QTEST_MAIN(TestCUpdateProgress)
#include "tst_cupdateprogress.moc"
