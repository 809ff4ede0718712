#include "dialogframe.h"

#include "framebuttonstyle.h"
#include "framelabel.h"

#include <QDialog>
#include <QFont>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

static void registerResourceBundle()
{
    // Must stay outside any namespace: the macro declares the bundle's global init function.
    Q_INIT_RESOURCE(resources);
}

void initUiResources()
{
    static const bool registered = (registerResourceBundle(), true);
    Q_UNUSED(registered)
}

void paintDialogBackground(QWidget *widget)
{
    QPainter painter(widget);
    painter.setRenderHint(QPainter::Antialiasing);
    // Loaded on every paint on purpose: nothing to invalidate, and QPixmapCache keeps it cheap.
    painter.drawPixmap(QPoint(0, 0), QPixmap(QStringLiteral(":/update_bg")));
}

void applyFrame(QDialog *dialog)
{
    dialog->setWindowFlags(dialog->windowFlags() | Qt::FramelessWindowHint);
}

static const QString whiteTextStyle = QStringLiteral("color: rgb(255, 255, 255);");

FrameLabel *addFrameLabel(QDialog *dialog, const QString &objectName, const QRect &geometry,
                          const QString &text)
{
    auto *label = new FrameLabel(dialog);
    label->setObjectName(objectName);
    label->setGeometry(geometry);
    label->setStyleSheet(whiteTextStyle);
    label->setFullText(text);
    return label;
}

FrameLabel *addFrameHeading(QDialog *dialog, const QString &objectName, const QRect &geometry,
                            const QString &text)
{
    FrameLabel *label = addFrameLabel(dialog, objectName, geometry, text);
    QFont font;
    font.setPointSize(DialogFrame::HeadingPointSize);
    label->setFont(font);
    return label;
}

QPushButton *addFrameButton(QDialog *dialog, const QString &objectName, const QRect &geometry,
                            const QString &text)
{
    auto *button = new QPushButton(dialog);
    button->setObjectName(objectName);
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    // Set before the style sheet, which then draws on top of this style.
    button->setStyle(frameButtonStyle());
    button->setStyleSheet(whiteTextStyle);
    button->setText(text);
    return button;
}
