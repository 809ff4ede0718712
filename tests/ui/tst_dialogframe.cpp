#include "cdownloadthread.h"
#include "cupdateerror.h"
#include "cupdatenotice.h"
#include "cupdateprogress.h"
#include "dialogframe.h"

#include <QApplication>
#include <QColorSpace>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmapCache>
#include <QProgressBar>
#include <QPushButton>
#include <QResource>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtEndian>
#include <QtTest>

#include <memory>

namespace {

const QString whiteText = QStringLiteral("color: rgb(255, 255, 255);");

// One dialog of the given kind; the progress dialog gets a worker with nothing to fetch.
struct DialogUnderTest
{
    explicit DialogUnderTest(const QString &kind)
    {
        if (kind == QLatin1String("notice")) {
            dialog = std::make_unique<CUpdateNotice>();
        } else if (kind == QLatin1String("error")) {
            dialog = std::make_unique<CUpdateError>();
        } else {
            worker = std::make_unique<CDownloadThread>(QString(), QDir(dir.path()),
                                                       QDir(dir.path()), QList<ManifestEntry>());
            dialog = std::make_unique<CUpdateProgress>(worker.get());
        }
    }
    ~DialogUnderTest()
    {
        dialog.reset();
        if (worker) {
            worker->quit();
            worker->wait();
        }
    }
    QTemporaryDir dir;
    std::unique_ptr<CDownloadThread> worker;
    std::unique_ptr<QDialog> dialog;
};

// Marks every text with the context it was looked up in.
class ContextTagger : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        return QStringLiteral("[%1]%2").arg(QString::fromUtf8(context),
                                            QString::fromUtf8(sourceText));
    }
};

QStringList warningsWhile(const std::function<void()> &action)
{
    static QStringList *sink = nullptr;
    QStringList warnings;
    sink = &warnings;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext &, const QString &message) {
            if (type != QtDebugMsg)
                sink->append(message);
        });
    action();
    qInstallMessageHandler(previous);
    sink = nullptr;
    return warnings;
}

} // namespace

class TestDialogFrame : public QObject
{
    Q_OBJECT
private slots:
    void frame_data();
    void frame();
    void form_data();
    void form();
    void defaultButtons();
    void progressBarsStartEmpty();
    void translationContexts();
    void backgroundPicture();
    void icon();
    void resourcesSitUncompressedAtRoot();
    void paintsPictureUnscaledAtOrigin();
    void missingPictureLeavesPlainBackground();
};

void TestDialogFrame::frame_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("title");
    QTest::newRow("notice") << "notice"
                            << "CUpdateNotice"
                            << "CUpdateNoticeClass"
                            << "CUpdateNotice";
    QTest::newRow("error") << "error"
                           << "CUpdateError"
                           << "CUpdateError"
                           << "CUpdateError";
    QTest::newRow("progress") << "progress"
                              << "CUpdateProgress"
                              << "CUpdateProgress"
                              << "";
}

void TestDialogFrame::frame()
{
    QFETCH(QString, kind);
    QFETCH(QString, className);
    DialogUnderTest under(kind);
    QDialog &dialog = *under.dialog;
    QCOMPARE(QString::fromLatin1(dialog.metaObject()->className()), className);
    QTEST(dialog.objectName(), "objectName");
    QTEST(dialog.windowTitle(), "title");
    QCOMPARE(dialog.size(), QSize(640, 455));
    QCOMPARE(dialog.windowType(), Qt::Dialog);
    QVERIFY(dialog.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(!dialog.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!dialog.testAttribute(Qt::WA_TranslucentBackground));
    QVERIFY(dialog.isWindow());
    QCOMPARE(dialog.minimumSize(), QSize(0, 0));
    QCOMPARE(dialog.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    QVERIFY(dialog.styleSheet().isEmpty());
}

void TestDialogFrame::form_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("heading");
    QTest::newRow("notice update") << "notice"
                                   << "update" << QRect(380, 400, 100, 30) << "立即更新" << false;
    QTest::newRow("notice skip") << "notice"
                                 << "skip" << QRect(510, 400, 100, 30) << "以后再说" << false;
    QTest::newRow("notice version")
        << "notice"
        << "version" << QRect(30, 280, 580, 40) << "发现新版本：3.0.2.0" << true;
    QTest::newRow("error retry") << "error"
                                 << "retry" << QRect(380, 400, 100, 30) << "再试一次" << false;
    QTest::newRow("error download")
        << "error"
        << "download" << QRect(510, 400, 100, 30) << "官网下载" << false;
    QTest::newRow("error label") << "error"
                                 << "label" << QRect(30, 300, 580, 40) << "更新失败" << true;
    QTest::newRow("error error") << "error"
                                 << "error" << QRect(30, 370, 580, 24) << "网络错误：10012"
                                 << false;
    QTest::newRow("progress label") << "progress"
                                    << "label" << QRect(30, 280, 580, 40) << "正在更新" << true;
    QTest::newRow("progress total") << "progress"
                                    << "total" << QRect(30, 330, 580, 5) << "" << false;
    QTest::newRow("progress progress") << "progress"
                                       << "progress" << QRect(30, 370, 580, 5) << "" << false;
    QTest::newRow("progress desc")
        << "progress"
        << "desc" << QRect(30, 340, 580, 24) << "正在下载更新文件" << false;
    QTest::newRow("progress cancel") << "progress"
                                     << "cancel" << QRect(510, 400, 100, 30) << "取消" << false;
}

void TestDialogFrame::form()
{
    QFETCH(QString, kind);
    QFETCH(QString, objectName);
    QFETCH(QString, text);
    QFETCH(bool, heading);
    DialogUnderTest under(kind);
    auto *widget = under.dialog->findChild<QWidget *>(objectName);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget(), under.dialog.get());
    QTEST(widget->geometry(), "geometry");
    QCOMPARE(widget->font().pointSize(), heading ? 15 : QApplication::font().pointSize());
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        QCOMPARE(label->text(), text);
        QCOMPARE(label->styleSheet(), whiteText);
    } else if (auto *button = qobject_cast<QPushButton *>(widget)) {
        QCOMPARE(button->text(), text);
        QCOMPARE(button->styleSheet(), whiteText);
        QCOMPARE(button->size(), QSize(100, 30));
    } else {
        QVERIFY(qobject_cast<QProgressBar *>(widget));
        QVERIFY(widget->styleSheet().isEmpty());
    }
}

void TestDialogFrame::defaultButtons()
{
    DialogUnderTest notice(QStringLiteral("notice"));
    DialogUnderTest error(QStringLiteral("error"));
    DialogUnderTest progress(QStringLiteral("progress"));
    QVERIFY(notice.dialog->findChild<QPushButton *>("update")->isDefault());
    QVERIFY(!notice.dialog->findChild<QPushButton *>("skip")->isDefault());
    QVERIFY(error.dialog->findChild<QPushButton *>("retry")->isDefault());
    QVERIFY(!error.dialog->findChild<QPushButton *>("download")->isDefault());
    QVERIFY(!progress.dialog->findChild<QPushButton *>("cancel")->isDefault());
    // No button makes itself the default when it gets the focus.
    for (DialogUnderTest *under : {&notice, &error, &progress})
        for (QPushButton *button : under->dialog->findChildren<QPushButton *>())
            QVERIFY2(!button->autoDefault(), qPrintable(button->objectName()));
}

void TestDialogFrame::progressBarsStartEmpty()
{
    DialogUnderTest under(QStringLiteral("progress"));
    for (const char *name : {"total", "progress"}) {
        auto *bar = under.dialog->findChild<QProgressBar *>(name);
        QVERIFY(bar);
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 100);
        QVERIFY(!bar->isTextVisible());
        QVERIFY(bar->value() < bar->minimum()); // no value yet: an empty bar
    }
}

void TestDialogFrame::translationContexts()
{
    ContextTagger tagger;
    QCoreApplication::installTranslator(&tagger);
    DialogUnderTest notice(QStringLiteral("notice"));
    DialogUnderTest error(QStringLiteral("error"));
    DialogUnderTest progress(QStringLiteral("progress"));
    auto text = [](DialogUnderTest &under, const char *name) {
        return under.dialog->findChild<QLabel *>(name)->text();
    };
    QCOMPARE(notice.dialog->findChild<QPushButton *>("skip")->text(),
             "[CUpdateNoticeClass]以后再说");
    QCOMPARE(notice.dialog->windowTitle(), "[CUpdateNoticeClass]CUpdateNotice");
    QCOMPARE(text(notice, "version"), "[CUpdateNoticeClass]发现新版本：3.0.2.0");
    static_cast<CUpdateNotice *>(notice.dialog.get())->setVersion(QStringLiteral("1.2"));
    QCOMPARE(text(notice, "version"), "[CUpdateNotice]发现新版本：1.2");
    QCOMPARE(text(error, "error"), "[CUpdateError]网络错误：10012");
    QCOMPARE(error.dialog->findChild<QPushButton *>("download")->text(), "[CUpdateError]官网下载");
    QCOMPARE(text(progress, "desc"), "[CUpdateProgress]正在下载更新文件");
    emit progress.worker->downloadStarted(QFileInfo(QStringLiteral("/c/a.dll")), 0, 2);
    QCOMPARE(text(progress, "desc"), "[CUpdateProgress]正在下载更新文件a.dll");
    emit progress.worker->downloadStarted(QFileInfo(QStringLiteral("/c/a.dll")), 0, 0);
    QCOMPARE(text(progress, "desc"), "total为0");
    emit progress.worker->downloadProgress(1, 0);
    QCOMPARE(text(progress, "desc"), "bytesTotal为0");
    QCoreApplication::removeTranslator(&tagger);
}

void TestDialogFrame::backgroundPicture()
{
    QImage picture;
    const QStringList warnings =
        warningsWhile([&picture] { picture = QImage(QStringLiteral(":/update_bg")); });
    QCOMPARE(warnings, QStringList()); // libpng complains about a broken profile or chunk
    QCOMPARE(picture.size(), QSize(640, 455));
    QVERIFY(!picture.hasAlphaChannel());
    QVERIFY(picture.colorSpace().isValid()); // the embedded ICC profile was understood
    QCOMPARE(QPixmap(QStringLiteral(":/update_bg")).size(), QSize(640, 455));

    // The picture is dark where the white texts sit.
    for (int y = 280; y < 430; y += 10)
        for (int x = 0; x < 640; x += 40)
            QVERIFY2(qGray(picture.pixel(x, y)) < 80,
                     qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
}

void TestDialogFrame::icon()
{
    QFile file(QStringLiteral(":/icon"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray ico = file.readAll();
    QVERIFY(ico.size() >= 6);
    QCOMPARE(qFromLittleEndian<quint16>(ico.constData() + 2), quint16(1)); // an icon, not a cursor

    const QImage image(QStringLiteral(":/icon"));
    QCOMPARE(image.size(), QSize(64, 64));
    QVERIFY(image.hasAlphaChannel());
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);     // rounded corner
    QCOMPARE(qAlpha(image.pixel(32, 32)), 255); // solid middle
    QVERIFY(QIcon(QStringLiteral(":/icon")).availableSizes().contains(QSize(64, 64)));
}

void TestDialogFrame::resourcesSitUncompressedAtRoot()
{
    initUiResources();
    initUiResources();
    const QStringList root = QDir(QStringLiteral(":/")).entryList();
    QVERIFY(root.contains("icon"));
    QVERIFY(root.contains("update_bg"));
    QCOMPARE(QResource(QStringLiteral(":/icon")).compressionAlgorithm(), QResource::NoCompression);
    QCOMPARE(QResource(QStringLiteral(":/update_bg")).compressionAlgorithm(),
             QResource::NoCompression);
}

void TestDialogFrame::paintsPictureUnscaledAtOrigin()
{
    DialogUnderTest under(QStringLiteral("notice"));
    under.dialog->resize(800, 600);
    const QImage shot = under.dialog->grab().toImage();
    const QImage picture(QStringLiteral(":/update_bg"));
    for (const QPoint &at :
         {QPoint(0, 0), QPoint(5, 5), QPoint(320, 135), QPoint(639, 454), QPoint(600, 20)})
        QCOMPARE(QColor(shot.pixel(at)), QColor(picture.pixel(at)));
    const QColor plain = under.dialog->palette().color(QPalette::Window);
    QCOMPARE(QColor(shot.pixel(700, 100)), plain);
    QCOMPARE(QColor(shot.pixel(100, 500)), plain);
}

void TestDialogFrame::missingPictureLeavesPlainBackground()
{
    Q_CLEANUP_RESOURCE(resources);
    QPixmapCache::clear();
    QVERIFY(!QFile::exists(QStringLiteral(":/update_bg")));
    {
        DialogUnderTest under(QStringLiteral("error"));
        const QImage shot = under.dialog->grab().toImage();
        QCOMPARE(shot.size(), QSize(640, 455));
        QCOMPARE(QColor(shot.pixel(5, 5)), under.dialog->palette().color(QPalette::Window));
        QVERIFY(under.dialog->findChild<QPushButton *>("retry"));
    }
    Q_INIT_RESOURCE(resources);
    QVERIFY(QFile::exists(QStringLiteral(":/update_bg")));
}

QTEST_MAIN(TestDialogFrame)
#include "tst_dialogframe.moc"
