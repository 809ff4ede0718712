#include "dialogframe.h"

#include <QDialog>
#include <QFont>
#include <QLabel>
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

QLabel *addFrameLabel(QDialog *dialog, const QString &objectName, const QRect &geometry,
                      const QString &text)
{
    auto *label = new QLabel(dialog);
    label->setObjectName(objectName);
    label->setGeometry(geometry);
    label->setStyleSheet(whiteTextStyle);
    label->setText(text);
    return label;
}

QLabel *addFrameHeading(QDialog *dialog, const QString &objectName, const QRect &geometry,
                        const QString &text)
{
    QLabel *label = addFrameLabel(dialog, objectName, geometry, text);
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
    button->setStyleSheet(whiteTextStyle);
    button->setText(text);
    return button;
}
