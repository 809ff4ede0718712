#include "cupdatenotice.h"

#include "dialogframe.h"
#include "framelabel.h"

#include <QCoreApplication>
#include <QPushButton>

CUpdateNotice::CUpdateNotice(QWidget *parent) : QDialog(parent)
{
    initUiResources();
    setupForm();
    applyFrame(this);
    connect(m_form.update, &QAbstractButton::clicked, this, &QDialog::accept);
    connect(m_form.skip, &QAbstractButton::clicked, this, &QDialog::reject);
}

CUpdateNotice::~CUpdateNotice() = default;

void CUpdateNotice::setupForm()
{
    // The form's texts keep the context of the form's own object name.
    const char *context = "CUpdateNoticeClass";
    setObjectName(QStringLiteral("CUpdateNoticeClass"));
    resize(DialogFrame::Width, DialogFrame::Height);
    m_form.update = addFrameButton(this, QStringLiteral("update"), DialogFrame::LeftButton,
                                   QCoreApplication::translate(context, "立即更新"));
    m_form.skip = addFrameButton(this, QStringLiteral("skip"), DialogFrame::RightButton,
                                 QCoreApplication::translate(context, "以后再说"));
    m_form.version = addFrameHeading(this, QStringLiteral("version"), QRect(30, 280, 580, 40),
                                     QCoreApplication::translate(context, "发现新版本：3.0.2.0"));
    setWindowTitle(QCoreApplication::translate(context, "CUpdateNotice"));
    m_form.update->setDefault(true);
}

void CUpdateNotice::setVersion(QString version)
{
    m_form.version->setFullText(tr("发现新版本：%1").arg(version));
}

void CUpdateNotice::paintEvent(QPaintEvent *)
{
    paintDialogBackground(this);
}
