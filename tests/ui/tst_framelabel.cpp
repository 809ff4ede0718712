// The dialogs' one-line labels: long texts elided with "…", the whole text as a readable
// tool tip, selectable and copied whole.
#include "contrast.h"
#include "dialogframe.h"
#include "framelabel.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QMenu>
#include <QtTest>

namespace {

const QChar ellipsis(0x2026);

QString longText(const QString &piece, int size = 300)
{
    QString text;
    while (text.size() < size)
        text += piece;
    return text.left(size);
}

// A label as the dialogs make it: 580 wide, white text style, on a dialog of its own.
struct LabelOnDialog
{
    explicit LabelOnDialog(const QString &text)
    {
        dialog.resize(DialogFrame::Width, DialogFrame::Height);
        label = addFrameLabel(&dialog, QStringLiteral("line"), QRect(30, 370, 580, 24), text);
    }
    QDialog dialog;
    FrameLabel *label = nullptr;
};

QString copiedWith(FrameLabel *label, int start, int length)
{
    QApplication::clipboard()->clear();
    label->setSelection(start, length);
    QTest::keyClick(label, Qt::Key_C, Qt::ControlModifier);
    return QApplication::clipboard()->text();
}

// Contrast between the most common colour of a widget's picture and its text.
double textContrastOf(QWidget *widget)
{
    const QImage image = widget->grab().toImage();
    const QColor background = dominantColor(image, image.rect());
    return contrastRatio(background, mostContrastingColor(image, image.rect(), background));
}

QWidget *shownToolTip()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QTipLabel") && widget->isVisible())
            return widget;
    }
    return nullptr;
}

struct MenuSeen
{
    QStringList entries;
    double textContrast = 0;
};

// Opens the label's context menu as a right click does and chooses `entry` in it.
MenuSeen useContextMenu(FrameLabel *label, const QString &entry)
{
    MenuSeen seen;
    QTimer::singleShot(0, [&seen, entry] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction *action : menu->actions())
            seen.entries << action->text();
        seen.textContrast = textContrastOf(menu);
        for (QAction *action : menu->actions())
            if (action->text() == entry)
                action->trigger();
        menu->close();
    });
    const QPoint at(10, 12);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, label->mapToGlobal(at));
    QApplication::sendEvent(label, &event);
    return seen;
}

} // namespace

class TestFrameLabel : public QObject
{
    Q_OBJECT
private slots:
    void elision_data();
    void elision();
    void widenedLabelShowsWholeText();
    void copy_data();
    void copy();
    void selectAllThenCopy();
    void shownAsPlainText();
    void toolTipTextWhiteOnLightTip();
    void contextMenuTextWhiteOnLightMenu();
    void copyWithNothingSelectedCopiesWholeText();
    void lineTallerThanLabelDrawnPlainly();
};

void TestFrameLabel::elision_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("elided");
    QTest::newRow("short") << QStringLiteral("网络错误：10012") << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("300 Latin") << longText(QStringLiteral("server replied: Not Found ")) << true;
    QTest::newRow("300 Chinese") << longText(QStringLiteral("下载更新文件失败")) << true;
    QTest::newRow("300 mixed") << longText(QStringLiteral("下载更新文件app.dll网络错误：404-"))
                               << true;
}

void TestFrameLabel::elision()
{
    QFETCH(QString, text);
    QFETCH(bool, elided);
    LabelOnDialog on(text);
    FrameLabel *label = on.label;
    QCOMPARE(label->fullText(), text);
    QCOMPARE(label->isElided(), elided);
    QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= label->width());
    if (!elided) {
        QCOMPARE(label->text(), text);
        QVERIFY(label->toolTip().isEmpty());
        return;
    }
    QVERIFY2(label->text().endsWith(ellipsis), qPrintable(label->text()));
    QVERIFY(text.startsWith(label->text().chopped(1)));
    QCOMPARE(label->toolTip(), text);
    // Not cut short: one more character would not fit.
    const QString oneMore = text.left(label->text().size()) + ellipsis;
    QVERIFY(label->fontMetrics().horizontalAdvance(oneMore) > label->width());
}

void TestFrameLabel::widenedLabelShowsWholeText()
{
    const QString text = longText(QStringLiteral("folder/"));
    LabelOnDialog on(text);
    QVERIFY(on.label->isElided());
    on.dialog.show(); // a hidden widget gets its resize event only when shown
    on.label->resize(on.label->fontMetrics().horizontalAdvance(text) + 10, 24);
    QCOMPARE(on.label->text(), text);
    QVERIFY(on.label->toolTip().isEmpty());
    on.label->resize(100, 24);
    QVERIFY(on.label->isElided());
    QCOMPARE(on.label->toolTip(), text);
}

void TestFrameLabel::copy_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("length"); // -1: through the end of the shown text
    QTest::addColumn<QString>("copied");
    const QString text = longText(QStringLiteral("下载更新文件app.dll网络错误：404-"));
    QTest::newRow("all that is shown") << text << 0 << -1 << text;
    QTest::newRow("from the 10th through the end") << text << 10 << -1 << text.mid(10);
    QTest::newRow("the first five") << text << 0 << 5 << text.left(5);
    QTest::newRow("short text, all") << QStringLiteral("网络错误") << 0 << -1 << "网络错误";
    QTest::newRow("short text, part") << QStringLiteral("网络错误") << 2 << -1 << "错误";
}

void TestFrameLabel::copy()
{
    QFETCH(QString, text);
    QFETCH(int, start);
    QFETCH(int, length);
    LabelOnDialog on(text);
    if (length < 0)
        length = on.label->text().size() - start;
    QTEST(copiedWith(on.label, start, length), "copied");
    QVERIFY(on.label->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
}

void TestFrameLabel::selectAllThenCopy()
{
    const QString text = longText(QStringLiteral("server replied: Not Found "));
    LabelOnDialog on(text);
    QApplication::clipboard()->clear();
    QTest::keyClick(on.label, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(on.label, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), text);
}

void TestFrameLabel::shownAsPlainText()
{
    LabelOnDialog on(QStringLiteral("<b>3.0</b><img src=\"x.png\">"));
    QCOMPARE(on.label->textFormat(), Qt::PlainText);
    QCOMPARE(on.label->text(), QStringLiteral("<b>3.0</b><img src=\"x.png\">"));
}

// The tip took the label's white text style: white text on the tip's light background.
void TestFrameLabel::toolTipTextWhiteOnLightTip()
{
    const QString text = longText(QStringLiteral("<b>server</b> replied: Not Found "));
    LabelOnDialog on(text);
    on.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&on.dialog));
    const QPoint at(10, 12);
    QHelpEvent help(QEvent::ToolTip, at, on.label->mapToGlobal(at));
    QApplication::sendEvent(on.label, &help);
    QWidget *tip = nullptr;
    QTRY_VERIFY((tip = shownToolTip()));
    const double ratio = textContrastOf(tip);
    QVERIFY2(ratio >= 4.5, qPrintable(QString::number(ratio)));
    // Escaped: the text's markup is shown, not obeyed.
    QVERIFY(qobject_cast<QLabel *>(tip)->text().contains(QStringLiteral("&lt;b&gt;server")));
}

// A menu that is a child of the label took its white text style, like the tool tip.
void TestFrameLabel::contextMenuTextWhiteOnLightMenu()
{
    const QString text = longText(QStringLiteral("下载更新文件app.dll网络错误：404-"));
    LabelOnDialog on(text);
    on.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&on.dialog));
    QApplication::clipboard()->clear();
    useContextMenu(on.label, QStringLiteral("全选"));
    const MenuSeen seen = useContextMenu(on.label, QStringLiteral("复制"));
    QCOMPARE(seen.entries, QStringList({"复制", "全选"}));
    QVERIFY2(seen.textContrast >= 4.5, qPrintable(QString::number(seen.textContrast)));
    QCOMPARE(QApplication::clipboard()->text(), text);
}

void TestFrameLabel::copyWithNothingSelectedCopiesWholeText()
{
    const QString text = longText(QStringLiteral("server replied: Not Found "));
    LabelOnDialog on(text);
    on.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&on.dialog));
    QApplication::clipboard()->clear();
    QVERIFY(!on.label->hasSelectedText());
    useContextMenu(on.label, QStringLiteral("复制"));
    QCOMPARE(QApplication::clipboard()->text(), text);
}

void TestFrameLabel::lineTallerThanLabelDrawnPlainly()
{
    const QString text = longText(QStringLiteral("网络错误 "));
    LabelOnDialog on(text);
    QVERIFY(on.label->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
    QFont large = on.label->font();
    large.setPixelSize(40); // a large system font: the line no longer fits in 24 pixels
    on.label->setFont(large);
    QCOMPARE(on.label->textInteractionFlags(), Qt::NoTextInteraction);
    QVERIFY(on.label->isElided()); // elided for the larger font as well
    QVERIFY(on.label->fontMetrics().horizontalAdvance(on.label->text()) <= on.label->width());
    on.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&on.dialog));
    QApplication::clipboard()->clear();
    useContextMenu(on.label, QStringLiteral("复制"));
    QCOMPARE(QApplication::clipboard()->text(), text);
}

QTEST_MAIN(TestFrameLabel)
#include "tst_framelabel.moc"
