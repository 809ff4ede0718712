#include "cupdatenotice.h"
#include "dialogrunner.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {
enum class Action { ClickUpdate, Return, Enter, ClickSkip, Escape, CloseRequest };
}
Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(Qt::Key)

class TestCUpdateNotice : public QObject
{
    Q_OBJECT
private slots:
    void execResult_data();
    void execResult();
    void versionText_data();
    void versionText();
    void returnAcceptsWhateverHasFocus_data();
    void returnAcceptsWhateverHasFocus();
    void longVersionElided();
};

void TestCUpdateNotice::execResult_data()
{
    QTest::addColumn<Action>("action");
    QTest::addColumn<int>("result");
    QTest::newRow("click update") << Action::ClickUpdate << 1;
    QTest::newRow("Return as soon as shown") << Action::Return << 1;
    QTest::newRow("Enter") << Action::Enter << 1;
    QTest::newRow("click skip") << Action::ClickSkip << 0;
    QTest::newRow("Escape") << Action::Escape << 0;
    QTest::newRow("close request") << Action::CloseRequest << 0;
}

void TestCUpdateNotice::execResult()
{
    QFETCH(Action, action);
    CUpdateNotice dialog;
    dialog.setVersion(QStringLiteral("3.1.0.0"));
    const int result = execWith(dialog, [&] {
        switch (action) {
        case Action::ClickUpdate:
            QTest::mouseClick(dialog.findChild<QPushButton *>("update"), Qt::LeftButton);
            break;
        case Action::Return:
            QTest::keyClick(&dialog, Qt::Key_Return);
            break;
        case Action::Enter:
            QTest::keyClick(&dialog, Qt::Key_Enter, Qt::KeypadModifier);
            break;
        case Action::ClickSkip:
            QTest::mouseClick(dialog.findChild<QPushButton *>("skip"), Qt::LeftButton);
            break;
        case Action::Escape:
            QTest::keyClick(&dialog, Qt::Key_Escape);
            break;
        case Action::CloseRequest:
            sendCloseRequest(dialog);
            break;
        }
    });
    QTEST(result, "result");
    QVERIFY(!dialog.isVisible());
}

void TestCUpdateNotice::versionText_data()
{
    QTest::addColumn<bool>("callSetVersion");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("text");
    QTest::newRow("placeholder without setVersion") << false << QString() << "发现新版本：3.0.2.0";
    QTest::newRow("empty version") << true << QString() << "发现新版本：";
    QTest::newRow("short version") << true << "1.2"
                                   << "发现新版本：1.2";
    QTest::newRow("kept as passed, untrimmed") << true << " 2.0 beta "
                                               << "发现新版本： 2.0 beta ";
    QTest::newRow("placeholder inside version") << true << "%1 %2"
                                                << "发现新版本：%1 %2";
}

void TestCUpdateNotice::versionText()
{
    QFETCH(bool, callSetVersion);
    QFETCH(QString, version);
    CUpdateNotice dialog;
    if (callSetVersion)
        dialog.setVersion(version);
    QTEST(dialog.findChild<QLabel *>("version")->text(), "text");
}

void TestCUpdateNotice::returnAcceptsWhateverHasFocus_data()
{
    QTest::addColumn<int>("tabs");
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<QString>("focused");
    QTest::newRow("update as shown, Return") << 0 << Qt::Key_Return << "update";
    QTest::newRow("update as shown, Enter") << 0 << Qt::Key_Enter << "update";
    QTest::newRow("Tab to skip, Return") << 1 << Qt::Key_Return << "skip";
    QTest::newRow("Tab to skip, Enter") << 1 << Qt::Key_Enter << "skip";
    QTest::newRow("Tab around to update, Return") << 2 << Qt::Key_Return << "update";
}

void TestCUpdateNotice::returnAcceptsWhateverHasFocus()
{
    QFETCH(int, tabs);
    QFETCH(Qt::Key, key);
    CUpdateNotice dialog;
    dialog.setVersion(QStringLiteral("3.1.0.0"));
    QString focused;
    const int result = execWith(dialog, [&] {
        if (!QTest::qWaitForWindowActive(&dialog))
            return;
        for (int i = 0; i < tabs; ++i)
            pressKey(dialog, Qt::Key_Tab);
        focused = focusName();
        pressKey(dialog, key);
    });
    QTEST(focused, "focused");
    QCOMPARE(result, 1);
}

void TestCUpdateNotice::longVersionElided()
{
    const QString version = QStringLiteral("3.1.0.0-").append(QString(300, QLatin1Char('x')));
    CUpdateNotice dialog;
    dialog.setVersion(version);
    auto *label = dialog.findChild<QLabel *>("version");
    QVERIFY(label->text().endsWith(QChar(0x2026)));
    QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= label->width());
    QCOMPARE(label->toolTip(), QStringLiteral("发现新版本：") + version);
}

QTEST_MAIN(TestCUpdateNotice)
#include "tst_cupdatenotice.moc"
