#include "logfile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QMutex>

#include <cstring>

namespace {

UpdateLog *activeLog = nullptr;
QtMessageHandler previousHandler = nullptr;
QLoggingCategory::CategoryFilter previousFilter = nullptr;
QMutex stateMutex;                              // the filter and the handler may run on any thread
QHash<QByteArray, unsigned> standardErrorTypes; // per category, the types the rules enable

bool isUpdateCategory(const char *name)
{
    return name && std::strncmp(name, "update.", 7) == 0;
}

unsigned bitOf(QtMsgType type)
{
    return 1u << unsigned(type);
}

// The rules decide what standard error shows; the log takes info and above regardless.
void filterCategory(QLoggingCategory *category)
{
    if (previousFilter)
        previousFilter(category);
    if (!isUpdateCategory(category->categoryName()))
        return;
    unsigned enabled = 0;
    for (const QtMsgType type : {QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg}) {
        if (category->isEnabled(type))
            enabled |= bitOf(type);
    }
    {
        QMutexLocker locker(&stateMutex);
        standardErrorTypes.insert(category->categoryName(), enabled);
    }
    for (const QtMsgType type : {QtInfoMsg, QtWarningMsg, QtCriticalMsg})
        category->setEnabled(type, true);
}

QByteArray lineFor(const char *category, const QString &message)
{
    QString text = message;
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return QDateTime::currentDateTime()
               .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz "))
               .toUtf8() +
           category + ' ' + text.toUtf8() + '\n';
}

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (isUpdateCategory(context.category)) {
        QMutexLocker locker(&stateMutex);
        if (activeLog && type != QtDebugMsg)
            activeLog->write(lineFor(context.category, message));
        if (!(standardErrorTypes.value(context.category) & bitOf(type)))
            return;
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

UpdateLog::UpdateLog()
{
    Q_ASSERT(!activeLog);
    {
        QMutexLocker locker(&stateMutex);
        activeLog = this;
    }
    previousHandler = qInstallMessageHandler(handleMessage);
    previousFilter = QLoggingCategory::installFilter(filterCategory);
}

UpdateLog::~UpdateLog()
{
    QLoggingCategory::installFilter(previousFilter); // the rules alone again: silent
    qInstallMessageHandler(previousHandler);
    QMutexLocker locker(&stateMutex);
    activeLog = nullptr;
    standardErrorTypes.clear();
}

QString UpdateLog::fileName()
{
    return QStringLiteral("update.log");
}

QString UpdateLog::previousFileName()
{
    return QStringLiteral("update.log.1");
}

bool UpdateLog::open(const QString &folder)
{
    QMutexLocker locker(&stateMutex);
    const QDir dir(folder);
    m_path = dir.absoluteFilePath(fileName());
    if (!dir.mkpath(QStringLiteral(".")) || !openFile())
        return false;
    const QByteArray held = m_held;
    m_held.clear();
    write(held);
    return true;
}

bool UpdateLog::openFile()
{
    m_file.close();
    if (QFileInfo(m_path).size() >= RotateBytes)
        rotate();
    m_file.setFileName(m_path);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

// Whatever fails here only costs log lines.
void UpdateLog::rotate()
{
    m_file.close();
    const QString previous =
        QFileInfo(m_path).absolutePath() + QLatin1Char('/') + previousFileName();
    QFile::remove(previous);
    QFile::rename(m_path, previous);
}

void UpdateLog::write(const QByteArray &line)
{
    if (!m_file.isOpen()) {
        if (m_held.size() + line.size() <= HeldBytesLimit)
            m_held += line;
        return;
    }
    if (m_file.size() + line.size() > RotateBytes) {
        rotate();
        if (!openFile())
            return;
    }
    m_file.write(line); // a line that cannot be written is lost, the update goes on
}
