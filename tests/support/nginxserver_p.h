#pragma once

#include <QString>

// Shared by the portable and the platform parts of NginxServer.
namespace nginxserver {

const int listenWaitMs = 5000;

// The nginx program to start; empty when none is installed.
QString program();

// True when nginx's workers are to run as root ("user root root"), so that any file under
// the served root can be read.
bool workersRunAsRoot();

// The whole text file; empty when it cannot be read.
QString readText(const QString &path);

} // namespace nginxserver
