#include "driverharness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QPointer>
#include <QTimer>

DriverHarness::DriverHarness()
{
    qApp->installEventFilter(this);
}

DriverHarness::~DriverHarness()
{
    qApp->removeEventFilter(this);
}

void DriverHarness::answer(const QString &objectName, Action action)
{
    m_actions[objectName].append(std::move(action));
}

DriverHarness::Action DriverHarness::click(const QString &childName)
{
    return [childName](QDialog *dialog) {
        if (auto *button = dialog->findChild<QAbstractButton *>(childName))
            button->click();
    };
}

DriverHarness::Action DriverHarness::reject()
{
    return [](QDialog *dialog) {
        dialog->reject();
    };
}

int DriverHarness::run(const QStringList &arguments, const QString &appDir,
                       const QString &appFilePath)
{
    DriverSettings settings;
    settings.arguments = arguments;
    settings.appDir = appDir;
    settings.appFilePath = appFilePath;
    settings.reportSink = [this](const QByteArray &bytes) {
        m_reports += bytes;
    };
    return runUpdater(settings);
}

QStringList DriverHarness::seenNames() const
{
    QStringList names;
    for (const SeenDialog &dialog : m_seen)
        names.append(dialog.objectName);
    return names;
}

bool DriverHarness::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        auto *dialog = qobject_cast<QDialog *>(watched);
        if (dialog && dialog->isWindow())
            handleShown(dialog);
    }
    return false;
}

namespace {
QString childText(QDialog *dialog, const char *name)
{
    auto *label = dialog->findChild<QLabel *>(QLatin1String(name));
    return label ? label->text() : QString();
}

bool childVisible(QDialog *dialog, const char *name)
{
    auto *widget = dialog->findChild<QWidget *>(QLatin1String(name));
    return widget && !widget->isHidden();
}
} // namespace

void DriverHarness::handleShown(QDialog *dialog)
{
    SeenDialog seen;
    seen.objectName = dialog->objectName();
    const bool notice = seen.objectName == QLatin1String("CUpdateNoticeClass");
    seen.heading = childText(dialog, notice ? "version" : "label");
    seen.message =
        childText(dialog, seen.objectName == QLatin1String("CUpdateError") ? "error" : "desc");
    seen.retryVisible = childVisible(dialog, "retry");
    seen.downloadVisible = childVisible(dialog, "download");
    m_seen.append(seen);

    if (seen.objectName == QLatin1String("CUpdateProgress") && m_actions[seen.objectName].isEmpty())
        return;
    Action action =
        m_actions[seen.objectName].isEmpty() ? reject() : m_actions[seen.objectName].takeFirst();
    // Act once the dialog's own event loop runs.
    QPointer<QDialog> target(dialog);
    QTimer::singleShot(0, dialog, [target, action] {
        if (target)
            action(target);
    });
}
