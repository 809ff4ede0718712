#pragma once

#include "noproxy.h"

#include <QList>
#include <QNetworkProxy>
#include <QProcessEnvironment>
#include <QString>

class QNetworkAccessManager;

// The proxy that a run's requests go through ("Proxy" in system.cfg). It goes on each manager
// of the run itself, never on the application: Qt's application-wide settings never proxy a
// loopback host, and its reading of the environment misparses common values silently.
class ProxySettings
{
public:
    // "Proxy" absent: managers keep Qt's default.
    ProxySettings() = default;

    // `value` is "none" (no proxy), "system" (see below) or "http://[USER:PASSWORD@]HOST:PORT";
    // the two words in any letter case. no_proxy of `environment` exempts hosts from every
    // proxy. "system" takes curl's variables when one of them is set (http_proxy for http,
    // https_proxy or HTTPS_PROXY for https, else all_proxy or ALL_PROXY; a value without a
    // scheme is http, without a port 1080), and otherwise what Qt reads from the system
    // (on Windows the user's settings and WinHTTP's, a PAC script included). False, with the
    // message, for any other value and for a variable that names no usable HTTP proxy.
    static bool fromValue(const QString &value, const QProcessEnvironment &environment,
                          ProxySettings *settings, QString *error);

    bool isDefault() const { return m_source == Source::Default; }
    // What a request goes through: proxies to try in turn, or QNetworkProxy::NoProxy.
    QList<QNetworkProxy> proxiesFor(const QNetworkProxyQuery &query) const;
    // Puts these settings on `manager` (which then asks them for every request); leaves it
    // alone when "Proxy" was absent.
    void applyTo(QNetworkAccessManager *manager) const;
    // For the log, never with a password.
    QString description() const;

private:
    enum class Source { Default, None, Fixed, Variables, System };

    bool readVariables(const QProcessEnvironment &environment, QString *error);

    Source m_source = Source::Default;
    QNetworkProxy m_http{QNetworkProxy::NoProxy};  // Fixed: every request; Variables: http
    QNetworkProxy m_https{QNetworkProxy::NoProxy}; // Variables: https
    NoProxyList m_exempt;
};
