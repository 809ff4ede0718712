#include "proxysettings.h"

#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace {

// curl's port for a proxy variable that names none.
constexpr int VariableDefaultPort = 1080;

// Asks the settings for every request of the manager that owns it.
class SettingsFactory : public QNetworkProxyFactory
{
public:
    explicit SettingsFactory(const ProxySettings &settings) : m_settings(settings) {}
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        return m_settings.proxiesFor(query);
    }

private:
    ProxySettings m_settings;
};

// An HTTP proxy as "http://[USER:PASSWORD@]HOST:PORT" with nothing after it but "/". A
// variable's value may leave out the scheme and the port, as curl allows.
bool parseProxyUrl(const QString &text, bool asVariable, QNetworkProxy *proxy)
{
    const bool schemeless = asVariable && !text.contains(QLatin1String("://"));
    const QUrl url(schemeless ? QStringLiteral("http://") + text : text, QUrl::StrictMode);
    const int port = url.port(asVariable ? VariableDefaultPort : -1);
    const bool usable = url.isValid() &&
                        url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 &&
                        !url.host().isEmpty() && port > 0 &&
                        (url.path().isEmpty() || url.path() == QLatin1String("/")) &&
                        !url.hasQuery() && !url.hasFragment();
    if (usable)
        *proxy = QNetworkProxy(QNetworkProxy::HttpProxy, url.host(), quint16(port), url.userName(),
                               url.password());
    return usable;
}

// The value as written, but a password in it is never shown.
QString withoutPassword(const QString &value)
{
    const QUrl url(value, QUrl::TolerantMode);
    return url.password().isEmpty() ? value : url.toString(QUrl::RemovePassword);
}

QString invalidMessage(const QString &value)
{
    return QObject::tr("代理设置不合法:%1").arg(value);
}

// The variable curl reads for `scheme`, as "NAME=VALUE"; empty when none is set.
QString variableFor(const QProcessEnvironment &environment, const QString &scheme)
{
    // curl never reads HTTP_PROXY: a web server puts a request's "Proxy:" header there.
    QStringList names =
        scheme == QLatin1String("https")
            ? QStringList{QStringLiteral("https_proxy"), QStringLiteral("HTTPS_PROXY")}
            : QStringList{QStringLiteral("http_proxy")};
    names << QStringLiteral("all_proxy") << QStringLiteral("ALL_PROXY");
    for (const QString &name : qAsConst(names)) {
        const QString value = environment.value(name).trimmed();
        if (!value.isEmpty())
            return name + QLatin1Char('=') + value;
    }
    return QString();
}

bool readVariable(const QString &variable, QNetworkProxy *proxy, QString *error)
{
    if (variable.isEmpty())
        return true; // direct
    const int equals = variable.indexOf(QLatin1Char('='));
    if (parseProxyUrl(variable.mid(equals + 1), true, proxy))
        return true;
    *error = invalidMessage(variable.left(equals + 1) + withoutPassword(variable.mid(equals + 1)));
    return false;
}

QString describe(const QNetworkProxy &proxy)
{
    if (proxy.type() == QNetworkProxy::NoProxy)
        return QStringLiteral("direct");
    return QStringLiteral("http://%1%2:%3")
        .arg(proxy.user().isEmpty() ? QString() : proxy.user() + QLatin1Char('@'), proxy.hostName())
        .arg(proxy.port());
}

} // namespace

bool ProxySettings::fromValue(const QString &value, const QProcessEnvironment &environment,
                              ProxySettings *settings, QString *error)
{
    const QString text = value.trimmed();
    ProxySettings parsed;
    parsed.m_exempt = NoProxyList::fromEnvironment(environment);
    if (text.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0) {
        parsed.m_source = Source::None;
    } else if (text.compare(QLatin1String("system"), Qt::CaseInsensitive) == 0) {
        if (!parsed.readVariables(environment, error))
            return false;
    } else if (parseProxyUrl(text, false, &parsed.m_http)) {
        parsed.m_source = Source::Fixed;
    } else {
        *error = invalidMessage(withoutPassword(value));
        return false;
    }
    *settings = parsed;
    return true;
}

bool ProxySettings::readVariables(const QProcessEnvironment &environment, QString *error)
{
    const QString http = variableFor(environment, QStringLiteral("http"));
    const QString https = variableFor(environment, QStringLiteral("https"));
    if (http.isEmpty() && https.isEmpty()) {
        m_source = Source::System;
        return true;
    }
    m_source = Source::Variables;
    return readVariable(http, &m_http, error) && readVariable(https, &m_https, error);
}

QList<QNetworkProxy> ProxySettings::proxiesFor(const QNetworkProxyQuery &query) const
{
    switch (m_source) {
    case Source::Default:
        return QNetworkProxyFactory::proxyForQuery(query);
    case Source::None:
        return {QNetworkProxy::NoProxy};
    default:
        break;
    }
    if (m_exempt.exempts(query.peerHostName()))
        return {QNetworkProxy::NoProxy};
    if (m_source == Source::System)
        return QNetworkProxyFactory::systemProxyForQuery(query);
    if (m_source == Source::Variables && query.protocolTag() == QLatin1String("https"))
        return {m_https};
    return {m_http};
}

void ProxySettings::applyTo(QNetworkAccessManager *manager) const
{
    if (m_source != Source::Default)
        manager->setProxyFactory(new SettingsFactory(*this)); // the manager owns it
}

QString ProxySettings::description() const
{
    const QString exempt = m_exempt.text().isEmpty()
                               ? QString()
                               : QStringLiteral(", no_proxy \"%1\"").arg(m_exempt.text());
    switch (m_source) {
    case Source::Default:
        return QStringLiteral("Qt's default");
    case Source::None:
        return QStringLiteral("none");
    case Source::Fixed:
        return describe(m_http) + exempt;
    case Source::Variables:
        return QStringLiteral("from the environment: http %1, https %2")
                   .arg(describe(m_http), describe(m_https)) +
               exempt;
    case Source::System:
        return QStringLiteral("the system's settings") + exempt;
    }
    return QString();
}
