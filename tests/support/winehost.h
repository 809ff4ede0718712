#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Windows test programs run under Wine; the servers and tools they need (nginx, openssl)
// are Linux programs. Wine starts a Linux executable named in CreateProcess, but gives the
// caller no usable process handle: no wait, no exit code, no signal. These helpers work
// around that through files, and exist only in the Windows build of the tests.
namespace WineHost {

// The Linux path of a Windows path, and back (Wine's own mapping of its drives).
QString unixPath(const QString &windowsPath);
QString windowsPath(const QString &unixPath);

// Starts a Linux program without waiting for it. `program` is a Linux path.
bool startDetached(const QString &program, const QStringList &arguments);

// Runs a Linux program and waits (bounded) for it: its exit code, or -1 when it did not
// finish in time. Standard output and error are merged into `output`.
int run(const QString &program, const QStringList &arguments, int timeoutMs = 30000,
        QByteArray *output = nullptr);

// Runs a tool of the Linux machine by name (sha256sum, openssl, stat, ...) like run();
// arguments that are absolute Windows paths are passed as their Linux paths.
int runTool(const QString &name, const QStringList &arguments, int timeoutMs = 30000,
            QByteArray *output = nullptr);

} // namespace WineHost
