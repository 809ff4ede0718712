#pragma once

#include <QRect>
#include <QString>

class FrameLabel;
class QDialog;
class QPushButton;
class QWidget;

// Registers the embedded pictures (":/icon", ":/update_bg"). The bundle lives in a static
// library, whose static initialiser the linker may drop, so callers register it explicitly.
// Safe to call any number of times.
void initUiResources();

// Paints ":/update_bg" at (0, 0) of `widget`, unscaled; paints nothing when it cannot load.
void paintDialogBackground(QWidget *widget);

// Adds the frameless hint to the current window flags; called once the form is built.
void applyFrame(QDialog *dialog);

// Form helpers shared by the three dialogs: white text on the dark picture.
FrameLabel *addFrameLabel(QDialog *dialog, const QString &objectName, const QRect &geometry,
                          const QString &text);
FrameLabel *addFrameHeading(QDialog *dialog, const QString &objectName, const QRect &geometry,
                            const QString &text);
// The buttons are drawn by FrameButtonStyle and never become the default on their own
// (no auto-default): Return and Enter go to the button the dialog names as its default,
// whichever widget has the focus, and to none when it names none.
QPushButton *addFrameButton(QDialog *dialog, const QString &objectName, const QRect &geometry,
                            const QString &text);

namespace DialogFrame {
constexpr int Width = 640;
constexpr int Height = 455;
constexpr int HeadingPointSize = 15;
const QRect LeftButton(380, 400, 100, 30);
const QRect RightButton(510, 400, 100, 30);
} // namespace DialogFrame
