#include "framelabel.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QTextDocument>
#include <QToolTip>

FrameLabel::FrameLabel(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

void FrameLabel::setFullText(const QString &text)
{
    m_fullText = text;
    showFittingText();
}

QString FrameLabel::selectionForCopy() const
{
    const QString selected = selectedText();
    const QString shown = text();
    const int start = selectionStart();
    if (selected.isEmpty() || !isElided() || start + selected.size() < shown.size())
        return selected;
    // The selection reaches the "…": hand on the hidden rest as well.
    int kept = 0;
    while (kept < shown.size() && kept < m_fullText.size() && shown.at(kept) == m_fullText.at(kept))
        ++kept;
    return m_fullText.mid(qMin(start, kept));
}

bool FrameLabel::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip || toolTip().isEmpty())
        return QLabel::event(event);
    // Shown for the dialog, which has no style sheet: this label's white text style would
    // make the tip's text white on its light background. Escaped, since the text may come
    // from the network, and wrapped into a readable paragraph.
    const auto *help = static_cast<QHelpEvent *>(event);
    QToolTip::showText(help->globalPos(), Qt::convertFromPlainText(toolTip()), window(),
                       QRect(mapTo(window(), QPoint(0, 0)), size()));
    return true;
}

void FrameLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    showFittingText();
}

void FrameLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        showFittingText();
}

void FrameLabel::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        event->accept();
    } else if (event->matches(QKeySequence::SelectAll)) {
        setSelection(0, text().size());
        event->accept();
    } else {
        QLabel::keyPressEvent(event);
    }
}

void FrameLabel::contextMenuEvent(QContextMenuEvent *event)
{
    // Parented to the dialog, not to this label: the label's white text style would make the
    // menu's entries white on a light menu.
    QMenu menu(window());
    const char *context = "FrameLabel";
    // With nothing selected, "复制" copies the whole text.
    QAction *copy = menu.addAction(QCoreApplication::translate(context, "复制"), this, [this] {
        if (hasSelectedText())
            copySelection();
        else
            QGuiApplication::clipboard()->setText(m_fullText);
    });
    copy->setEnabled(!m_fullText.isEmpty());
    menu.addAction(QCoreApplication::translate(context, "全选"), this,
                   [this] { setSelection(0, text().size()); });
    menu.exec(event->globalPos());
}

void FrameLabel::showFittingText()
{
    // Qt lays selectable text out from the top, so a line taller than the label (a large
    // system font) would lose its lower part. Such a line is drawn plainly, centred; the
    // context menu still copies it.
    const bool lineFits = fontMetrics().height() <= contentsRect().height();
    setTextInteractionFlags(lineFits ? Qt::TextSelectableByMouse : Qt::NoTextInteraction);
    const int room = contentsRect().width() - 2 * margin();
    const QString shown = fontMetrics().elidedText(m_fullText, Qt::ElideRight, room);
    if (shown != text())
        setText(shown);
    setToolTip(shown == m_fullText ? QString() : m_fullText);
}

void FrameLabel::copySelection()
{
    const QString copied = selectionForCopy();
    if (!copied.isEmpty())
        QGuiApplication::clipboard()->setText(copied);
}
