#include "consoleoutput.h"

#include "runmode.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#ifdef Q_OS_WIN
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

bool isPipeOrFile(DWORD handleId)
{
    const HANDLE handle = GetStdHandle(handleId);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return false;
    const DWORD type = GetFileType(handle);
    return type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK;
}

} // namespace
#endif

void connectReportOutput(int argc, char **argv)
{
#ifdef Q_OS_WIN
    if (argc < 2 || runModeOf(QString::fromLocal8Bit(argv[1])) != RunMode::Console)
        return;
    if (isPipeOrFile(STD_OUTPUT_HANDLE)) {
        // The report's bytes go out exactly as composed, never with LF turned into CR LF.
        _setmode(_fileno(stdout), _O_BINARY);
        return;
    }
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    std::freopen("CONOUT$", "w", stdout);
    if (!isPipeOrFile(STD_ERROR_HANDLE))
        std::freopen("CONOUT$", "w", stderr);
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
#endif
}

bool writeToConsoleWindow(const QByteArray &utf8)
{
#ifdef Q_OS_WIN
    // stdout may have been reopened on CONOUT$ above: its handle, not the process's.
    const auto console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode))
        return false;
    std::fflush(stdout);
    const QString text = QString::fromUtf8(utf8);
    DWORD written = 0;
    return WriteConsoleW(console, text.utf16(), DWORD(text.size()), &written, nullptr) != 0;
#else
    Q_UNUSED(utf8);
    return false;
#endif
}
