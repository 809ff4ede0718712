#include "testplatform.h"

#include <QProcess>

#include <windows.h>

int ansiCodePage()
{
    return int(GetACP());
}

void killHard(QProcess *process)
{
    process->kill(); // TerminateProcess
}

bool makeFifo(const QString &)
{
    return false; // Windows has named pipes only in their own namespace, not in a folder
}
