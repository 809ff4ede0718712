#include "serverurl.h"

#include <QUrl>

bool systemCfgUrl(const QString &serverAddress, QString *url, QString *error)
{
    QString address = serverAddress.trimmed();
    const QUrl parsed(address, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    if (!parsed.isValid() || parsed.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        *error = QStringLiteral("\"%1\" is no http:// or https:// address").arg(serverAddress);
        return false;
    }
    if (parsed.hasQuery() || parsed.hasFragment()) {
        *error = QStringLiteral("\"%1\": the folder address cannot carry a query or fragment, "
                                "since file names are appended to it")
                     .arg(serverAddress);
        return false;
    }
    if (!address.endsWith(QLatin1Char('/')))
        address += QLatin1Char('/');
    *url = address;
    return true;
}
