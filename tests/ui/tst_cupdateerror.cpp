#include "cupdateerror.h"
#include "dialogrunner.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QtTest>

namespace {

// Stands in for the desktop: records the addresses it is asked to open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE void openUrl(const QUrl &url) { urls.append(url); }
    QList<QUrl> urls;
};

enum class Action { ClickRetry, Return, Enter, Escape, CloseRequest, Close };

void perform(CUpdateError &dialog, Action action)
{
    switch (action) {
    case Action::ClickRetry:
        QTest::mouseClick(dialog.findChild<QPushButton *>("retry"), Qt::LeftButton);
        break;
    case Action::Return:
        QTest::keyClick(&dialog, Qt::Key_Return);
        break;
    case Action::Enter:
        QTest::keyClick(&dialog, Qt::Key_Enter, Qt::KeypadModifier);
        break;
    case Action::Escape:
        QTest::keyClick(&dialog, Qt::Key_Escape);
        break;
    case Action::CloseRequest:
        sendCloseRequest(dialog);
        break;
    case Action::Close:
        dialog.close();
        break;
    }
}

const QString pageUrl = QStringLiteral("https://download.example.invalid/setup");

} // namespace

Q_DECLARE_METATYPE(Action)

class TestCUpdateError : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init() { catcher.urls.clear(); }
    void execResult_data();
    void execResult();
    void buttonVisibility_data();
    void buttonVisibility();
    void returnDoesNothingWithoutButtons();
    void downloadUrlAfterHiddenButtonsShowsDownloadAlone();
    void setErrorOverwritesPreviousError();
    void downloadOpensPageEachTimeAndStaysOpen();
    void invalidAddressOpensNothing();

private:
    static bool shown(CUpdateError &dialog, const char *name)
    {
        return dialog.findChild<QPushButton *>(name)->isVisibleTo(&dialog);
    }
    UrlCatcher catcher;
};

void TestCUpdateError::initTestCase()
{
    // Never let a test start a real browser.
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "openUrl");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "openUrl");
}

void TestCUpdateError::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
}

void TestCUpdateError::execResult_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<int>("result");
    QTest::newRow("click retry") << Action::ClickRetry << 1;
    QTest::newRow("Return while retry shown") << Action::Return << 1;
    QTest::newRow("Enter while retry shown") << Action::Enter << 1;
    QTest::newRow("Escape") << Action::Escape << 0;
    QTest::newRow("close request") << Action::CloseRequest << 0;
    QTest::newRow("close()") << Action::Close << 0;
}

void TestCUpdateError::execResult()
{
    QFETCH(Action, action);
    CUpdateError dialog;
    dialog.setDownloadUrl(pageUrl);
    dialog.setError(QStringLiteral("更新失败"), QStringLiteral("网络错误"), true);
    QTEST(execWith(dialog, [&] { perform(dialog, action); }), "result");
    QVERIFY(!dialog.isVisible());
    QVERIFY(catcher.urls.isEmpty());
}

void TestCUpdateError::buttonVisibility_data()
{
    QTest::addColumn<bool>("showButtons");
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("retryShown");
    QTest::addColumn<bool>("downloadShown");
    QTest::newRow("no buttons, no address") << false << QString() << false << false;
    QTest::newRow("no buttons, address") << false << pageUrl << false << false;
    QTest::newRow("buttons, no address") << true << QString() << true << false;
    QTest::newRow("buttons, address") << true << pageUrl << true << true;
}

void TestCUpdateError::buttonVisibility()
{
    QFETCH(bool, showButtons);
    QFETCH(QString, url);
    CUpdateError dialog;
    QVERIFY(shown(dialog, "retry"));
    QVERIFY(!shown(dialog, "download")); // never shown without an address
    dialog.setDownloadUrl(url);
    dialog.setError(QStringLiteral("t"), QStringLiteral("m"), showButtons);
    QTEST(shown(dialog, "retry"), "retryShown");
    QTEST(shown(dialog, "download"), "downloadShown");
    // A lone retry button keeps its place on the left.
    QCOMPARE(dialog.findChild<QPushButton *>("retry")->x(), 380);
}

void TestCUpdateError::returnDoesNothingWithoutButtons()
{
    CUpdateError dialog;
    dialog.setDownloadUrl(pageUrl);
    dialog.setError(QStringLiteral("更新失败"), QStringLiteral("另一个更新程序正在运行"), false);
    bool openAfterReturn = false;
    const int result = execWith(dialog, [&] {
        QTest::keyClick(&dialog, Qt::Key_Return);
        QTest::keyClick(&dialog, Qt::Key_Enter, Qt::KeypadModifier);
        openAfterReturn = dialog.isVisible();
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    QVERIFY(openAfterReturn);
    QCOMPARE(result, 0);
    QVERIFY(catcher.urls.isEmpty());
}

void TestCUpdateError::downloadUrlAfterHiddenButtonsShowsDownloadAlone()
{
    CUpdateError dialog;
    dialog.setError(QStringLiteral("t"), QStringLiteral("m"), false);
    dialog.setDownloadUrl(pageUrl);
    QVERIFY(!shown(dialog, "retry"));
    QVERIFY(shown(dialog, "download"));
    dialog.setDownloadUrl(QString());
    QVERIFY(!shown(dialog, "download"));
}

void TestCUpdateError::setErrorOverwritesPreviousError()
{
    CUpdateError dialog;
    dialog.setDownloadUrl(pageUrl);
    dialog.setError(QStringLiteral("第一"), QStringLiteral("一"), false);
    dialog.setError(QStringLiteral("第二"), QStringLiteral("二"), true);
    QCOMPARE(dialog.findChild<QLabel *>("label")->text(), QStringLiteral("第二"));
    QCOMPARE(dialog.findChild<QLabel *>("error")->text(), QStringLiteral("二"));
    QVERIFY(shown(dialog, "retry"));
    QVERIFY(shown(dialog, "download"));
    QCOMPARE(execWith(dialog, [&] { perform(dialog, Action::Return); }), 1);
}

void TestCUpdateError::downloadOpensPageEachTimeAndStaysOpen()
{
    CUpdateError dialog;
    dialog.setDownloadUrl(pageUrl);
    dialog.setError(QStringLiteral("更新失败"), QStringLiteral("网络错误"), true);
    QList<bool> openAfterClick;
    const int result = execWith(dialog, [&] {
        for (int i = 0; i < 3; ++i) {
            QTest::mouseClick(dialog.findChild<QPushButton *>("download"), Qt::LeftButton);
            openAfterClick << dialog.isVisible();
        }
        perform(dialog, Action::ClickRetry);
    });
    QCOMPARE(openAfterClick, QList<bool>({true, true, true}));
    QCOMPARE(catcher.urls, QList<QUrl>({QUrl(pageUrl), QUrl(pageUrl), QUrl(pageUrl)}));
    QCOMPARE(result, 1);
}

void TestCUpdateError::invalidAddressOpensNothing()
{
    CUpdateError dialog;
    dialog.setDownloadUrl(QStringLiteral("http://[::1"));
    dialog.setError(QStringLiteral("t"), QStringLiteral("m"), true);
    bool openAfterClick = false;
    const int result = execWith(dialog, [&] {
        QTest::mouseClick(dialog.findChild<QPushButton *>("download"), Qt::LeftButton);
        openAfterClick = dialog.isVisible();
        perform(dialog, Action::Escape);
    });
    QVERIFY(openAfterClick);
    QCOMPARE(result, 0);
    QVERIFY(catcher.urls.isEmpty());
}

QTEST_MAIN(TestCUpdateError)
#include "tst_cupdateerror.moc"
