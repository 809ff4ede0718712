#include "hoststart.h"

#include <QProcess>
#include <QStringList>

bool startHost(const QString &exePath, const QString &updaterPath)
{
    if (exePath.isEmpty())
        return false;
    const QStringList arguments{updaterPath, QStringLiteral("no_check")};
    return QProcess::startDetached(exePath, arguments);
}
