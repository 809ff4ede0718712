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

// How the focus got where it is before a key is pressed.
enum class Focus { AsShown, TabToDownload, ClickDownload, ClickMessage, TabAround };

void moveFocus(CUpdateError &dialog, Focus focus)
{
    switch (focus) {
    case Focus::AsShown:
        break;
    case Focus::TabToDownload:
        pressKey(dialog, Qt::Key_Tab);
        break;
    case Focus::ClickDownload:
        QTest::mouseClick(dialog.findChild<QPushButton *>("download"), Qt::LeftButton);
        break;
    case Focus::ClickMessage:
        QTest::mouseClick(dialog.findChild<QLabel *>("error"), Qt::LeftButton, {}, QPoint(5, 12));
        break;
    case Focus::TabAround:
        pressKey(dialog, Qt::Key_Tab);
        pressKey(dialog, Qt::Key_Tab);
        break;
    }
}

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
Q_DECLARE_METATYPE(Focus)
Q_DECLARE_METATYPE(Qt::Key)

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
    void returnRetriesWhateverHasFocus_data();
    void returnRetriesWhateverHasFocus();
    void returnStopsRetryingAfterDownloadClick();
    void returnOpensNothingWhenDownloadIsAlone();
    void escapeClosesWithFocusOnMessage();
    void longMessageElidedWithWholeTextAsToolTip();

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

void TestCUpdateError::returnRetriesWhateverHasFocus_data()
{
    QTest::addColumn<Focus>("focus");
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<QString>("focused");
    QTest::addColumn<int>("pagesOpened");
    const QList<Qt::Key> keys{Qt::Key_Return, Qt::Key_Enter};
    for (Qt::Key key : keys) {
        const char *name = key == Qt::Key_Return ? "Return" : "Enter";
        QTest::addRow("retry as shown, %s", name) << Focus::AsShown << key << "retry" << 0;
        QTest::addRow("Tab to download, %s", name)
            << Focus::TabToDownload << key << "download" << 0;
        QTest::addRow("download clicked, %s", name)
            << Focus::ClickDownload << key << "download" << 1;
        QTest::addRow("message clicked, %s", name) << Focus::ClickMessage << key << "error" << 0;
        QTest::addRow("Tab around to retry, %s", name) << Focus::TabAround << key << "retry" << 0;
    }
}

void TestCUpdateError::returnRetriesWhateverHasFocus()
{
    QFETCH(Focus, focus);
    QFETCH(Qt::Key, key);
    CUpdateError dialog;
    dialog.setDownloadUrl(pageUrl);
    dialog.setError(QStringLiteral("更新失败"), QStringLiteral("网络错误"), true);
    QString focused;
    const int result = execWith(dialog, [&] {
        if (!QTest::qWaitForWindowActive(&dialog))
            return;
        moveFocus(dialog, focus);
        focused = focusName();
        pressKey(dialog, key);
    });
    QTEST(focused, "focused");
    QCOMPARE(result, 1);
    QTEST(int(catcher.urls.size()), "pagesOpened");
}

// After one click on "官网下载" that button kept the focus and, as an auto-default button,
// took Return for itself: the page opened again instead of a retry.
void TestCUpdateError::returnStopsRetryingAfterDownloadClick()
{
    CUpdateError dialog;
    dialog.setDownloadUrl(pageUrl);
    dialog.setError(QStringLiteral("更新失败"), QStringLiteral("网络错误"), true);
    const int result = execWith(dialog, [&] {
        if (!QTest::qWaitForWindowActive(&dialog))
            return;
        QTest::mouseClick(dialog.findChild<QPushButton *>("download"), Qt::LeftButton);
        pressKey(dialog, Qt::Key_Return);
    });
    QCOMPARE(result, 1);
    QCOMPARE(catcher.urls, QList<QUrl>({QUrl(pageUrl)}));
}

void TestCUpdateError::returnOpensNothingWhenDownloadIsAlone()
{
    CUpdateError dialog;
    dialog.setError(QStringLiteral("启动"), QStringLiteral("升级程序已运行"), false);
    dialog.setDownloadUrl(pageUrl);
    QString focused;
    bool openAfterKeys = false;
    const int result = execWith(dialog, [&] {
        if (!QTest::qWaitForWindowActive(&dialog))
            return;
        focused = focusName();
        pressKey(dialog, Qt::Key_Return);
        pressKey(dialog, Qt::Key_Enter);
        openAfterKeys = dialog.isVisible();
        pressKey(dialog, Qt::Key_Escape);
    });
    QCOMPARE(focused, QStringLiteral("download"));
    QVERIFY(openAfterKeys);
    QCOMPARE(result, 0);
    QVERIFY(catcher.urls.isEmpty());
}

void TestCUpdateError::escapeClosesWithFocusOnMessage()
{
    CUpdateError dialog;
    dialog.setError(QStringLiteral("更新失败"), QStringLiteral("网络错误"), true);
    QString focused;
    const int result = execWith(dialog, [&] {
        if (!QTest::qWaitForWindowActive(&dialog))
            return;
        moveFocus(dialog, Focus::ClickMessage);
        focused = focusName();
        pressKey(dialog, Qt::Key_Escape);
    });
    QCOMPARE(focused, QStringLiteral("error"));
    QCOMPARE(result, 0);
}

void TestCUpdateError::longMessageElidedWithWholeTextAsToolTip()
{
    QString message = QStringLiteral("下载升级描述文件失败:Error transferring http://127.0.0.1/");
    while (message.size() < 275)
        message += QStringLiteral("folder/");
    message += QStringLiteral("update.ini - server replied: Not Found");
    message = message.right(300);
    QCOMPARE(message.size(), 300);
    CUpdateError dialog;
    dialog.setError(QStringLiteral("更新失败"), message, true);
    auto *line = dialog.findChild<QLabel *>("error");
    const QString shown = line->text();
    QVERIFY2(shown.endsWith(QChar(0x2026)), qPrintable(shown));
    QVERIFY(message.startsWith(shown.chopped(1)));
    QVERIFY(shown.size() < message.size());
    QVERIFY(line->fontMetrics().horizontalAdvance(shown) <= line->width());
    QCOMPARE(line->toolTip(), message);
    QVERIFY(line->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
    QCOMPARE(line->geometry(), QRect(30, 370, 580, 24));

    // The next, short error is shown whole, without a tool tip.
    dialog.setError(QStringLiteral("更新失败"), QStringLiteral("网络错误"), true);
    QCOMPARE(line->text(), QStringLiteral("网络错误"));
    QVERIFY(line->toolTip().isEmpty());
}

QTEST_MAIN(TestCUpdateError)
#include "tst_cupdateerror.moc"
