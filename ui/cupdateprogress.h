#pragma once

#include <QDialog>
#include <QFileInfo>
#include <QString>

#include <cstdint>

class CDownloadThread;
class FrameLabel;
class QProgressBar;
class QPushButton;

// Shows the worker's file and byte progress and closes when the worker's thread has
// finished. The constructor connects to the worker and starts its thread.
class CUpdateProgress : public QDialog
{
    Q_OBJECT
public:
    explicit CUpdateProgress(CDownloadThread *thread, QWidget *parent = nullptr);
    ~CUpdateProgress() override;

    // Escape and close requests end in here. Ignored: exec() may only return once the
    // worker's thread has finished, because the caller destroys the worker right after, and
    // destroying a QThread that still runs aborts the program. The way out is `finished`.
    void reject() override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Form
    {
        FrameLabel *label = nullptr;
        QProgressBar *total = nullptr;
        QProgressBar *progress = nullptr;
        FrameLabel *desc = nullptr;
        QPushButton *cancel = nullptr;
    };

    void setupForm();
    void onDownloadStarted(QFileInfo filename, int current, int total);
    void onDownloadProgress(int64_t bytesReceived, int64_t bytesTotal);
    void onDownloadFail(QFileInfo filename, QString errormsg);

    Form m_form;
};
