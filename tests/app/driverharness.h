#pragma once

#include "driver.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QDialog;

// What a dialog showed when it appeared.
struct SeenDialog
{
    QString objectName;
    QString heading; // "label" or "version" text
    QString message; // "error" or "desc" text
    bool retryVisible = false;
    bool downloadVisible = false;
};

// Runs the real driver in this process and answers its dialogs as they are shown:
// each dialog's object name has a queue of actions; a dialog without a scripted action is
// rejected (the progress dialog is left alone: it closes by itself).
class DriverHarness : public QObject
{
public:
    using Action = std::function<void(QDialog *)>;

    DriverHarness();
    ~DriverHarness() override;

    void answer(const QString &objectName, Action action);
    static Action click(const QString &childName);
    static Action reject();

    // Runs the driver with appDir and appFilePath of an installation.
    int run(const QStringList &arguments, const QString &appDir, const QString &appFilePath);

    QList<SeenDialog> seen() const { return m_seen; }
    QStringList seenNames() const;
    QByteArray reports() const { return m_reports; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void handleShown(QDialog *dialog);

    QMap<QString, QList<Action>> m_actions;
    QList<SeenDialog> m_seen;
    QByteArray m_reports;
};
