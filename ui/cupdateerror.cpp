#include "cupdateerror.h"

#include "dialogframe.h"
#include "framelabel.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QPushButton>
#include <QUrl>

CUpdateError::CUpdateError(QWidget *parent) : QDialog(parent)
{
    initUiResources();
    setupForm();
    applyFrame(this);
    m_form.download->hide();
    connect(m_form.retry, &QAbstractButton::clicked, this, &QDialog::accept);
    connect(m_form.download, &QAbstractButton::clicked, this, &CUpdateError::openDownloadUrl);
}

CUpdateError::~CUpdateError() = default;

void CUpdateError::setupForm()
{
    const char *context = "CUpdateError";
    setObjectName(QStringLiteral("CUpdateError"));
    resize(DialogFrame::Width, DialogFrame::Height);
    m_form.retry = addFrameButton(this, QStringLiteral("retry"), DialogFrame::LeftButton,
                                  QCoreApplication::translate(context, "再试一次"));
    m_form.download = addFrameButton(this, QStringLiteral("download"), DialogFrame::RightButton,
                                     QCoreApplication::translate(context, "官网下载"));
    m_form.label = addFrameHeading(this, QStringLiteral("label"), QRect(30, 300, 580, 40),
                                   QCoreApplication::translate(context, "更新失败"));
    m_form.error = addFrameLabel(this, QStringLiteral("error"), QRect(30, 370, 580, 24),
                                 QCoreApplication::translate(context, "网络错误：10012"));
    setWindowTitle(QCoreApplication::translate(context, "CUpdateError"));
    m_form.retry->setDefault(true);
}

void CUpdateError::setError(QString title, QString message, bool showButtons)
{
    m_form.label->setFullText(title);
    m_form.error->setFullText(message);
    m_form.retry->setVisible(showButtons);
    m_form.download->setVisible(showButtons && !m_downloadUrl.isEmpty());
}

void CUpdateError::setDownloadUrl(QString url)
{
    m_downloadUrl = url;
    m_form.download->setVisible(!m_downloadUrl.isEmpty());
}

void CUpdateError::openDownloadUrl()
{
    // An address that forms no valid URL is not handed on, not even to a registered URL
    // handler; there is nothing to tell the user then.
    const QUrl url(m_downloadUrl, QUrl::TolerantMode);
    if (url.isValid())
        QDesktopServices::openUrl(url);
}

void CUpdateError::paintEvent(QPaintEvent *)
{
    paintDialogBackground(this);
}
