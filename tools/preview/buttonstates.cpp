#include "buttonstates.h"

#include "cupdatenotice.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QTextStream>

namespace {

enum class ButtonState { Normal, Hover, Pressed, KeyboardFocus, Disabled };

struct StateRow
{
    ButtonState state;
    const char *caption;
};

const StateRow rows[] = {{ButtonState::Normal, "normal"},
                         {ButtonState::Hover, "under the mouse"},
                         {ButtonState::Pressed, "pressed"},
                         {ButtonState::KeyboardFocus, "keyboard focus"},
                         {ButtonState::Disabled, "disabled"}};

constexpr int Margin = 8;
constexpr int CaptionWidth = 150;
constexpr int HeaderHeight = 28;

void putInState(QDialog &dialog, QPushButton *button, ButtonState state)
{
    button->setEnabled(state != ButtonState::Disabled);
    button->setDown(state == ButtonState::Pressed);
    button->setAttribute(Qt::WA_UnderMouse, state == ButtonState::Hover);
    dialog.setAttribute(Qt::WA_KeyboardFocusChange, state == ButtonState::KeyboardFocus);
    if (state == ButtonState::KeyboardFocus)
        button->setFocus(Qt::TabFocusReason);
    else
        dialog.setFocus();
}

// The button with a margin of the picture around it, in the given state.
QImage shotOf(QDialog &dialog, QPushButton *button, ButtonState state)
{
    putInState(dialog, button, state);
    const QRect area = button->geometry().adjusted(-Margin, -Margin, Margin, Margin);
    const QImage shot = dialog.grab(area).toImage();
    putInState(dialog, button, ButtonState::Normal);
    return shot;
}

bool activate(QDialog &dialog)
{
    dialog.show();
    dialog.activateWindow();
    QElapsedTimer waited;
    waited.start();
    while (!dialog.isActiveWindow() && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return dialog.isActiveWindow();
}

} // namespace

bool renderButtonStates(const QDir &outDir, const QString &namePrefix)
{
    CUpdateNotice dialog;
    if (!activate(dialog))
        return false;
    QPushButton *const buttons[] = {dialog.findChild<QPushButton *>(QStringLiteral("update")),
                                    dialog.findChild<QPushButton *>(QStringLiteral("skip"))};
    const QSize cell = buttons[0]->size() + QSize(2 * Margin, 2 * Margin);
    QImage sheet(CaptionWidth + 2 * cell.width(), HeaderHeight + 5 * cell.height(),
                 QImage::Format_RGB32);
    sheet.fill(QColor(0x0a, 0x0f, 0x19));
    QPainter painter(&sheet);
    painter.setPen(Qt::white);
    painter.drawText(QRect(CaptionWidth, 0, cell.width(), HeaderHeight), Qt::AlignCenter,
                     QStringLiteral("default"));
    painter.drawText(QRect(CaptionWidth + cell.width(), 0, cell.width(), HeaderHeight),
                     Qt::AlignCenter, QStringLiteral("other"));
    int y = HeaderHeight;
    for (const StateRow &row : rows) {
        painter.drawText(QRect(Margin, y, CaptionWidth - Margin, cell.height()),
                         Qt::AlignVCenter | Qt::AlignLeft, QString::fromLatin1(row.caption));
        for (int column = 0; column < 2; ++column)
            painter.drawImage(CaptionWidth + column * cell.width(), y,
                              shotOf(dialog, buttons[column], row.state));
        y += cell.height();
    }
    painter.end();
    dialog.hide();
    const QString path = outDir.filePath(namePrefix + QStringLiteral("button-states.png"));
    const bool written = sheet.save(path, "PNG");
    QTextStream(written ? stdout : stderr)
        << (written ? "wrote " : "cannot write ") << path << Qt::endl;
    return written;
}
