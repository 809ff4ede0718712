#include "testplatform.h"

#include <QFile>
#include <QProcess>

#include <signal.h>
#include <sys/stat.h>

int ansiCodePage()
{
    return 0;
}

void killHard(QProcess *process)
{
    ::kill(pid_t(process->processId()), SIGKILL);
}

bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}
