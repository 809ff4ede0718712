#include "cupdatenotice.h"
#include "dialogrunner.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {
enum class Action { ClickUpdate, Return, Enter, ClickSkip, Escape, CloseRequest };
}
Q_DECLARE_METATYPE(Action)

class TestCUpdateNotice : public QObject
{
    Q_OBJECT
private slots:
    void execResult_data();
    void execResult();
    void versionText_data();
    void versionText();
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

QTEST_MAIN(TestCUpdateNotice)
#include "tst_cupdatenotice.moc"
