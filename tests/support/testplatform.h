#pragma once

#include <QString>
#include <QSysInfo>

class QProcess;

// The platform the tests run on, decided at run time. What needs a platform's own API lives
// in testplatform_posix.cpp and testplatform_win.cpp, which CMake chooses.

// True in the Windows build of the tests, also when it runs under Wine.
inline bool runsOnWindows()
{
    return QSysInfo::productType() == QLatin1String("windows");
}

// The ANSI code page, the local 8-bit encoding of a Windows process; 0 where there is none.
int ansiCodePage();

// Ends `process` at once without a chance to clean up: SIGKILL, or TerminateProcess on
// Windows. The caller still waits for it.
void killHard(QProcess *process);

// Makes a FIFO at `path`; false where the platform has none.
bool makeFifo(const QString &path);
