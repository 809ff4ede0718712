#include "cupdateprogress.h"

#include "cdownloadthread.h"
#include "dialogframe.h"
#include "framelabel.h"

#include <QCoreApplication>
#include <QProgressBar>
#include <QPushButton>

#include <limits>

namespace {

QProgressBar *addThinBar(QDialog *dialog, const QString &objectName, const QRect &geometry)
{
    auto *bar = new QProgressBar(dialog);
    bar->setObjectName(objectName);
    bar->setGeometry(geometry);
    bar->setRange(0, 100);
    bar->setTextVisible(false);
    return bar;
}

// part * 100 / whole, truncated, or -1 when it lies outside 0..100. Out-of-range values
// leave the bar unchanged either way; filtering them here keeps a huge overrun from
// wrapping back into range when narrowed to int, and keeps the product from overflowing.
int percentOf(int64_t part, int64_t whole)
{
    if (whole <= 0 || part < 0 || part > whole)
        return -1;
    constexpr int64_t productLimit = std::numeric_limits<int64_t>::max() / 100;
    if (part <= productLimit)
        return static_cast<int>(part * 100 / whole);
    return static_cast<int>(part / (whole / 100));
}

} // namespace

CUpdateProgress::CUpdateProgress(CDownloadThread *thread, QWidget *parent) : QDialog(parent)
{
    initUiResources();
    setupForm();
    applyFrame(this);
    connect(m_form.cancel, &QAbstractButton::clicked, thread, &QThread::quit);
    connect(thread, &CDownloadThread::downloadStarted, this, &CUpdateProgress::onDownloadStarted);
    connect(thread, &CDownloadThread::downloadProgress, this, &CUpdateProgress::onDownloadProgress);
    connect(thread, &CDownloadThread::downloadFail, this, &CUpdateProgress::onDownloadFail);
    connect(thread, &QThread::finished, this, &QDialog::accept);
    thread->start(QThread::InheritPriority);
}

CUpdateProgress::~CUpdateProgress() = default;

void CUpdateProgress::setupForm()
{
    const char *context = "CUpdateProgress";
    setObjectName(QStringLiteral("CUpdateProgress"));
    resize(DialogFrame::Width, DialogFrame::Height);
    m_form.label = addFrameHeading(this, QStringLiteral("label"), QRect(30, 280, 580, 40),
                                   QCoreApplication::translate(context, "正在更新"));
    m_form.total = addThinBar(this, QStringLiteral("total"), QRect(30, 330, 580, 5));
    m_form.progress = addThinBar(this, QStringLiteral("progress"), QRect(30, 370, 580, 5));
    m_form.desc = addFrameLabel(this, QStringLiteral("desc"), QRect(30, 340, 580, 24),
                                QCoreApplication::translate(context, "正在下载更新文件"));
    m_form.cancel = addFrameButton(this, QStringLiteral("cancel"), DialogFrame::RightButton,
                                   QCoreApplication::translate(context, "取消"));
}

void CUpdateProgress::reject() {}

void CUpdateProgress::onDownloadStarted(QFileInfo filename, int current, int total)
{
    if (total <= 0) {
        m_form.desc->setFullText(QStringLiteral("total为0"));
        return;
    }
    const int percent = percentOf(current, total);
    if (percent >= 0)
        m_form.total->setValue(percent);
    m_form.desc->setFullText(tr("正在下载更新文件%1").arg(filename.fileName()));
    m_form.progress->setValue(0);
}

void CUpdateProgress::onDownloadProgress(int64_t bytesReceived, int64_t bytesTotal)
{
    if (bytesTotal <= 0) {
        m_form.desc->setFullText(QStringLiteral("bytesTotal为0"));
        return;
    }
    const int percent = percentOf(bytesReceived, bytesTotal);
    if (percent >= 0)
        m_form.progress->setValue(percent);
}

void CUpdateProgress::onDownloadFail(QFileInfo, QString errormsg)
{
    m_form.desc->setFullText(errormsg);
}

void CUpdateProgress::paintEvent(QPaintEvent *)
{
    paintDialogBackground(this);
}
