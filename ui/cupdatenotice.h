#pragma once

#include <QDialog>
#include <QString>

class FrameLabel;
class QPushButton;

// Offers a new version: "立即更新" ends exec() with 1, "以后再说" with 0.
class CUpdateNotice : public QDialog
{
    Q_OBJECT
public:
    explicit CUpdateNotice(QWidget *parent = nullptr);
    ~CUpdateNotice() override;

    void setVersion(QString version);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Form
    {
        QPushButton *update = nullptr;
        QPushButton *skip = nullptr;
        FrameLabel *version = nullptr;
    };

    void setupForm();

    Form m_form;
};
