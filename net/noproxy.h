#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The hosts that the variable no_proxy (or NO_PROXY) keeps away from a proxy, read as curl
// reads it: entries separated by commas or spaces; "*" alone names every host; a name takes in
// the host itself and every host below it ("example.com" and ".example.com" both match
// www.example.com, never notexample.com); an IP address matches itself, and one with a prefix
// length (10.0.0.0/8, fd00::/8) its whole network. Letter case does not matter; an entry with a
// port matches nothing. Qt's own reading has no "*", no networks and matches IP addresses as
// text suffixes ("0.0.1" would exempt 127.0.0.1 and 10.0.0.1).
class NoProxyList
{
public:
    NoProxyList() = default;
    explicit NoProxyList(const QString &value);
    // no_proxy, or NO_PROXY when the first is not set.
    static NoProxyList fromEnvironment(const QProcessEnvironment &environment);

    bool exempts(const QString &host) const;
    // The value as given, for the log.
    QString text() const { return m_text; }

private:
    void add(const QString &entry);

    QString m_text;
    bool m_all = false;
    QStringList m_names;
    QList<QPair<QHostAddress, int>> m_networks;
};
