// The push buttons' faces: readable white text (WCAG contrast >= 4.5) in every state, on
// every dialog, whatever the application's style; hover, pressed and keyboard focus visible.
#include "cdownloadthread.h"
#include "contrast.h"
#include "cupdateerror.h"
#include "cupdatenotice.h"
#include "cupdateprogress.h"
#include "dialogrunner.h"
#include "digest.h"
#include "scriptedserver.h"

#include <QApplication>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

enum class ButtonState { Normal, Hover, Pressed, KeyboardFocus, Disabled };

// One dialog of the given kind, shown and active, with both of its buttons visible. The
// progress dialog's worker waits for a server that never answers, so the dialog stays open.
struct ShownDialog
{
    explicit ShownDialog(const QString &kind)
    {
        if (kind == QLatin1String("notice")) {
            dialog = std::make_unique<CUpdateNotice>();
        } else if (kind == QLatin1String("error")) {
            auto error = std::make_unique<CUpdateError>();
            error->setDownloadUrl(QStringLiteral("https://download.example.invalid/"));
            error->setError(QStringLiteral("更新失败"), QStringLiteral("网络错误"), true);
            dialog = std::move(error);
        } else {
            ScriptedServer::Response silent;
            silent.ending = ScriptedServer::Ending::NeverAnswer;
            server.setResponse(QStringLiteral("Base/a.dll"), silent);
            server.listen();
            worker = std::make_unique<CDownloadThread>(
                server.url(QStringLiteral("Base/")), QDir(dir.filePath(QStringLiteral("cache"))),
                QDir(dir.filePath(QStringLiteral("install"))),
                QList<ManifestEntry>{ManifestEntry{"a.dll", 3, digestText("abc")}});
            dialog = std::make_unique<CUpdateProgress>(worker.get());
        }
        dialog->show();
        active = QTest::qWaitForWindowActive(dialog.get());
    }
    ~ShownDialog()
    {
        dialog->hide();
        if (worker) {
            worker->quit();
            worker->wait();
        }
        dialog.reset();
    }
    QPushButton *button(const QString &name) { return dialog->findChild<QPushButton *>(name); }

    QTemporaryDir dir;
    ScriptedServer server;
    std::unique_ptr<CDownloadThread> worker;
    std::unique_ptr<QDialog> dialog;
    bool active = false;
};

void putInState(QDialog &dialog, QPushButton *button, ButtonState state)
{
    switch (state) {
    case ButtonState::Normal:
        break;
    case ButtonState::Hover:
        button->setAttribute(Qt::WA_UnderMouse);
        break;
    case ButtonState::Pressed:
        button->setDown(true);
        break;
    case ButtonState::KeyboardFocus:
        // Tab as the user does; at least once, so the dialog knows the keyboard is in use.
        for (int i = 0; i < 4 && (i == 0 || QApplication::focusWidget() != button); ++i)
            pressKey(dialog, Qt::Key_Tab);
        break;
    case ButtonState::Disabled:
        button->setEnabled(false);
        break;
    }
}

struct ButtonShot
{
    QColor face;
    QColor text;
    QColor border; // the middle of the top edge
};

ButtonShot shoot(QDialog &dialog, QPushButton *button)
{
    const QImage image = dialog.grab().toImage();
    const QRect inner = button->geometry().adjusted(3, 3, -3, -3);
    ButtonShot shot;
    shot.face = dominantColor(image, inner);
    shot.text = mostContrastingColor(image, inner, shot.face);
    shot.border = QColor(image.pixel(button->geometry().center().x(), button->geometry().top()));
    return shot;
}

class AppStyle
{
public:
    explicit AppStyle(const QString &name) : m_previous(QApplication::style()->objectName())
    {
        QApplication::setStyle(QStyleFactory::create(name));
    }
    ~AppStyle() { QApplication::setStyle(QStyleFactory::create(m_previous)); }

private:
    QString m_previous;
};

} // namespace

Q_DECLARE_METATYPE(ButtonState)

class TestFrameButtonStyle : public QObject
{
    Q_OBJECT
private slots:
    void readableInEveryState_data();
    void readableInEveryState();
    void statesLookDifferent_data();
    void statesLookDifferent();
    void sameFaceUnderEveryApplicationStyle();
    void buttonsKeepTheirOwnTextStyle();
};

void TestFrameButtonStyle::readableInEveryState_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("button");
    QTest::addColumn<ButtonState>("state");
    QTest::addColumn<QString>("appStyle");
    const QList<QPair<QString, QString>> buttons{{"notice", "update"},
                                                 {"notice", "skip"},
                                                 {"error", "retry"},
                                                 {"error", "download"},
                                                 {"progress", "cancel"}};
    const QList<QPair<ButtonState, const char *>> states{
        {ButtonState::Normal, "normal"},
        {ButtonState::Hover, "hover"},
        {ButtonState::Pressed, "pressed"},
        {ButtonState::KeyboardFocus, "keyboard focus"},
        {ButtonState::Disabled, "disabled"}};
    for (const QString &appStyle : {QStringLiteral("Fusion"), QStringLiteral("Windows")})
        for (const auto &button : buttons)
            for (const auto &state : states)
                QTest::addRow("%s %s, %s, %s", qPrintable(button.first), qPrintable(button.second),
                              state.second, qPrintable(appStyle))
                    << button.first << button.second << state.first << appStyle;
}

void TestFrameButtonStyle::readableInEveryState()
{
    QFETCH(QString, kind);
    QFETCH(QString, button);
    QFETCH(ButtonState, state);
    QFETCH(QString, appStyle);
    AppStyle style(appStyle);
    ShownDialog shown(kind);
    QVERIFY(shown.active);
    QPushButton *pushButton = shown.button(button);
    QVERIFY(pushButton && pushButton->isVisible());
    putInState(*shown.dialog, pushButton, state);
    if (state == ButtonState::KeyboardFocus)
        QCOMPARE(focusName(), button);

    const ButtonShot shot = shoot(*shown.dialog, pushButton);
    QCOMPARE(shot.text, QColor(Qt::white));
    const double ratio = contrastRatio(shot.face, shot.text);
    QVERIFY2(
        ratio >= 4.5,
        qPrintable(
            QStringLiteral("%1 on %2: %3").arg(shot.text.name(), shot.face.name()).arg(ratio)));
}

void TestFrameButtonStyle::statesLookDifferent_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("button");
    QTest::newRow("default button") << "error"
                                    << "retry";
    QTest::newRow("other button") << "error"
                                  << "download";
    QTest::newRow("progress cancel") << "progress"
                                     << "cancel";
}

void TestFrameButtonStyle::statesLookDifferent()
{
    QFETCH(QString, kind);
    QFETCH(QString, button);
    QMap<ButtonState, ButtonShot> shots;
    for (ButtonState state : {ButtonState::Normal, ButtonState::Hover, ButtonState::Pressed,
                              ButtonState::KeyboardFocus, ButtonState::Disabled}) {
        ShownDialog shown(kind);
        QVERIFY(shown.active);
        putInState(*shown.dialog, shown.button(button), state);
        shots.insert(state, shoot(*shown.dialog, shown.button(button)));
    }
    const QList<QColor> faces{shots[ButtonState::Normal].face, shots[ButtonState::Hover].face,
                              shots[ButtonState::Pressed].face, shots[ButtonState::Disabled].face};
    for (int i = 0; i < faces.size(); ++i)
        for (int j = i + 1; j < faces.size(); ++j)
            QVERIFY2(faces[i] != faces[j], qPrintable(faces[i].name()));
    // Keyboard focus keeps the face and draws a ring that stands out from the usual edge.
    QCOMPARE(shots[ButtonState::KeyboardFocus].face, shots[ButtonState::Normal].face);
    QVERIFY(contrastRatio(shots[ButtonState::KeyboardFocus].border,
                          shots[ButtonState::Normal].border) >= 3);
}

void TestFrameButtonStyle::sameFaceUnderEveryApplicationStyle()
{
    QStringList faces;
    for (const QString &name : QStyleFactory::keys()) {
        AppStyle style(name);
        ShownDialog shown(QStringLiteral("error"));
        QVERIFY(shown.active);
        faces << shoot(*shown.dialog, shown.button(QStringLiteral("retry"))).face.name() +
                     shoot(*shown.dialog, shown.button(QStringLiteral("download"))).face.name();
    }
    QVERIFY(faces.size() >= 2); // Fusion and Windows at least
    faces.removeDuplicates();
    QCOMPARE(faces.size(), 1);
}

void TestFrameButtonStyle::buttonsKeepTheirOwnTextStyle()
{
    ShownDialog shown(QStringLiteral("notice"));
    for (const QString &name : {QStringLiteral("update"), QStringLiteral("skip")}) {
        QPushButton *button = shown.button(name);
        QCOMPARE(button->styleSheet(), QStringLiteral("color: rgb(255, 255, 255);"));
        QVERIFY(!button->autoDefault());
    }
}

QTEST_MAIN(TestFrameButtonStyle)
#include "tst_framebuttonstyle.moc"
