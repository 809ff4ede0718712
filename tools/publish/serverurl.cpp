#include "serverurl.h"

#include <QUrl>

QString systemCfgUrl(const QString &serverAddress, QString *error)
{
    QString address = serverAddress.trimmed();
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        *error = QStringLiteral("\"%1\" is no http:// or https:// address").arg(serverAddress);
        return QString();
    }
    if (url.hasQuery() || url.hasFragment()) {
        *error = QStringLiteral("\"%1\": the folder address cannot carry a query or fragment, "
                                "since file names are appended to it")
                     .arg(serverAddress);
        return QString();
    }
    if (!address.endsWith(QLatin1Char('/')))
        address += QLatin1Char('/');
    return address;
}
