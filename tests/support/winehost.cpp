#include "winehost.h"

#include "testfiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <windows.h>

namespace {

using ToUnix = char *(CDECL *)(const wchar_t *);
using ToWindows = wchar_t *(CDECL *)(const char *);

FARPROC wineExport(const char *name)
{
    return GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
}

// The shell quotes nothing itself: each argument reaches it as one Windows argument.
QString shellQuoted(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

} // namespace

namespace WineHost {

QString unixPath(const QString &windowsPath)
{
    const auto convert = reinterpret_cast<ToUnix>(wineExport("wine_get_unix_file_name"));
    if (!convert)
        return QString();
    const QString native = QDir::toNativeSeparators(QDir(windowsPath).absolutePath());
    char *result = convert(reinterpret_cast<const wchar_t *>(native.utf16()));
    if (!result)
        return QString();
    const QString path = QString::fromUtf8(result);
    HeapFree(GetProcessHeap(), 0, result);
    return path;
}

QString windowsPath(const QString &unixPath)
{
    const auto convert = reinterpret_cast<ToWindows>(wineExport("wine_get_dos_file_name"));
    if (!convert)
        return QString();
    wchar_t *result = convert(unixPath.toUtf8().constData());
    if (!result)
        return QString();
    const QString path = QDir::fromNativeSeparators(QString::fromWCharArray(result));
    HeapFree(GetProcessHeap(), 0, result);
    return path;
}

bool startDetached(const QString &program, const QStringList &arguments)
{
    return QProcess::startDetached(windowsPath(program), arguments);
}

int run(const QString &program, const QStringList &arguments, int timeoutMs, QByteArray *output)
{
    QTemporaryDir work;
    const QString dir = unixPath(work.path());
    if (!work.isValid() || dir.isEmpty())
        return -1;
    // The exit code is written last, through a rename, so it is never read half-written.
    QString script = shellQuoted(program);
    for (const QString &argument : arguments)
        script += QLatin1Char(' ') + shellQuoted(argument);
    script +=
        QStringLiteral(" >'%1/output' 2>&1; echo $? >'%1/code.tmp'; mv '%1/code.tmp' '%1/code'")
            .arg(dir);
    if (!startDetached(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}))
        return -1;
    const QDeadlineTimer deadline(timeoutMs);
    const QString codeFile = work.filePath(QStringLiteral("code"));
    while (!QFile::exists(codeFile)) {
        if (deadline.hasExpired())
            return -1;
        QThread::msleep(20);
    }
    if (output)
        *output = readFile(work.filePath(QStringLiteral("output")));
    bool ok = false;
    const int code = readFile(codeFile).trimmed().toInt(&ok);
    return ok ? code : -1;
}

int runTool(const QString &name, const QStringList &arguments, int timeoutMs, QByteArray *output)
{
    static const QRegularExpression drivePath(QStringLiteral("^[A-Za-z]:[/\\\\]"));
    QStringList converted;
    for (const QString &argument : arguments)
        converted << (drivePath.match(argument).hasMatch() ? unixPath(argument) : argument);
    for (const char *folder : {"/usr/bin/", "/bin/", "/usr/sbin/"}) {
        const QString program = QString::fromLatin1(folder) + name;
        if (QFileInfo::exists(windowsPath(program)))
            return run(program, converted, timeoutMs, output);
    }
    return -1;
}

} // namespace WineHost
