#include "framebuttonstyle.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QPainter>
#include <QPointer>
#include <QStyleOptionButton>

namespace {

struct Face
{
    QColor fill;
    QColor border;
};

// Contrast of the fill with white: default 6.0, hover 5.3, pressed 8.2; others 14.5, 11.5,
// 17.0; disabled 13.3. The focus ring stands out from every usual edge by at least 3:1.
Face faceFor(const QStyleOptionButton &option)
{
    const bool primary = option.features & QStyleOptionButton::DefaultButton;
    if (!(option.state & QStyle::State_Enabled))
        return {QColor(0x2b, 0x30, 0x38), QColor(0x3d, 0x44, 0x4f)};
    if (option.state & (QStyle::State_Sunken | QStyle::State_On))
        return primary ? Face{QColor(0x1c, 0x4f, 0x8e), QColor(0x16, 0x3f, 0x72)}
                       : Face{QColor(0x14, 0x1d, 0x2a), QColor(0x4f, 0x6a, 0x8e)};
    if (option.state & QStyle::State_MouseOver)
        return primary ? Face{QColor(0x2b, 0x6c, 0xbf), QColor(0x6f, 0xa6, 0xe8)}
                       : Face{QColor(0x2a, 0x3a, 0x52), QColor(0x6f, 0x8d, 0xb5)};
    return primary ? Face{QColor(0x25, 0x63, 0xb0), QColor(0x1b, 0x4f, 0x91)}
                   : Face{QColor(0x1e, 0x2a, 0x3c), QColor(0x4f, 0x6a, 0x8e)};
}

bool hasKeyboardFocus(const QStyleOption &option)
{
    return (option.state & QStyle::State_HasFocus) &&
           (option.state & QStyle::State_KeyboardFocusChange);
}

void drawFace(const QStyleOptionButton &option, QPainter *painter)
{
    const Face face = faceFor(option);
    const bool focusRing = hasKeyboardFocus(option);
    const qreal penWidth = focusRing ? 2 : 1;
    const qreal inset = penWidth / 2;
    const QRectF rect = QRectF(option.rect).adjusted(inset, inset, -inset, -inset);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(focusRing ? QColor(0x9c, 0xc9, 0xff) : face.border, penWidth));
    painter->setBrush(face.fill);
    painter->drawRoundedRect(rect, 3, 3);
    painter->restore();
}

} // namespace

FrameButtonStyle::FrameButtonStyle() : QProxyStyle(QStringLiteral("Fusion")) {}

void FrameButtonStyle::drawControl(ControlElement element, const QStyleOption *option,
                                   QPainter *painter, const QWidget *widget) const
{
    const auto *button = qstyleoption_cast<const QStyleOptionButton *>(option);
    if (element == CE_PushButtonBevel && button) {
        drawFace(*button, painter);
        return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}

void FrameButtonStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option,
                                     QPainter *painter, const QWidget *widget) const
{
    // The face carries the focus ring; the dotted rectangle over the text would only clutter.
    if (element == PE_FrameFocusRect && qobject_cast<const QAbstractButton *>(widget))
        return;
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

QStyle *frameButtonStyle()
{
    static QPointer<QStyle> style;
    if (!style) {
        style = new FrameButtonStyle;
        style->setParent(QCoreApplication::instance());
    }
    return style;
}
