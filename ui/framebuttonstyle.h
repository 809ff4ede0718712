#pragma once

#include <QProxyStyle>

// The push buttons of the dialogs, drawn the same under every platform style: a solid face
// that their white text can be read on (WCAG contrast of at least 4.5:1 in every state), blue
// for the default button and dark slate for the others, lighter under the mouse, darker when
// pressed, with a light ring for keyboard focus. Everything but the face comes from Fusion,
// which every Qt build has.
class FrameButtonStyle : public QProxyStyle
{
public:
    FrameButtonStyle();

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
};

// The one instance the dialogs share; the application object owns it.
QStyle *frameButtonStyle();
