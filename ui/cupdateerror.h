#pragma once

#include <QDialog>
#include <QString>

class FrameLabel;
class QPushButton;

// Shows a failure: a heading, a one-line message, "再试一次" (exec() returns 1) and, when a
// download page is configured, "官网下载", which opens that page and leaves the dialog open.
class CUpdateError : public QDialog
{
    Q_OBJECT
public:
    explicit CUpdateError(QWidget *parent = nullptr);
    ~CUpdateError() override;

    void setError(QString title, QString message, bool showButtons);
    void setDownloadUrl(QString url);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Form
    {
        QPushButton *retry = nullptr;
        QPushButton *download = nullptr;
        FrameLabel *label = nullptr;
        FrameLabel *error = nullptr;
    };

    void setupForm();
    void openDownloadUrl();

    Form m_form;
    QString m_downloadUrl;
};
