#include "noproxy.h"

#include <QRegularExpression>

namespace {

// "[::1]" and "::1" are one host, and so are "example.com." and "example.com".
QString bareHost(QString host)
{
    host = host.trimmed().toLower();
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    if (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    return host;
}

} // namespace

NoProxyList::NoProxyList(const QString &value) : m_text(value)
{
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    for (const QString &entry : value.split(separators, Qt::SkipEmptyParts))
        add(entry);
}

NoProxyList NoProxyList::fromEnvironment(const QProcessEnvironment &environment)
{
    const QString lower = QStringLiteral("no_proxy");
    return NoProxyList(environment.contains(lower) ? environment.value(lower)
                                                   : environment.value(QStringLiteral("NO_PROXY")));
}

void NoProxyList::add(const QString &entry)
{
    if (entry == QLatin1String("*")) {
        m_all = true;
        return;
    }
    QString name = bareHost(entry);
    if (name.contains(QLatin1Char('/'))) {
        const QPair<QHostAddress, int> network = QHostAddress::parseSubnet(name);
        if (!network.first.isNull())
            m_networks.append(network);
        return; // a prefix length on a name means nothing
    }
    const QHostAddress address(name);
    if (!address.isNull()) {
        m_networks.append(
            {address, address.protocol() == QAbstractSocket::IPv6Protocol ? 128 : 32});
        return;
    }
    // "*.example.com" and ".example.com" both mean example.com and the hosts below it.
    if (name.startsWith(QLatin1String("*.")))
        name.remove(0, 1);
    while (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    if (!name.isEmpty())
        m_names.append(name);
}

bool NoProxyList::exempts(const QString &host) const
{
    if (m_all)
        return true;
    const QString name = bareHost(host);
    const QHostAddress address(name);
    if (!address.isNull()) {
        for (const QPair<QHostAddress, int> &network : m_networks) {
            if (address.isInSubnet(network))
                return true;
        }
        return false;
    }
    for (const QString &exempt : m_names) {
        if (name == exempt || name.endsWith(QLatin1Char('.') + exempt))
            return true;
    }
    return false;
}
