#pragma once

#include <QList>
#include <QObject>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>

class QNetworkReply;

// The TLS settings that go on every request to the update server. Without a CA file they
// are Qt's defaults (the system's authorities); with one, its certificates alone are
// trusted. One manager reuses an open connection even for a request with other settings,
// so every request of a run must carry the same configuration.

// Reads the PEM certificates of `path` into a configuration that trusts only them. False,
// with `error` set, when the file cannot be read or holds no certificate: the caller must
// not fall back to the system's authorities.
bool loadCaFile(const QString &path, QSslConfiguration *configuration, QString *error);

// Collects the reasons Qt gives for refusing a server's certificate, which the reply's own
// error text ("SSL handshake failed") leaves out.
class TlsErrorLog
{
public:
    // Starts collecting for `reply`, forgetting earlier reasons. The log must outlive the
    // transfer, or be destroyed first: its connections end with it.
    void watch(QNetworkReply *reply);
    // `message`, followed by the reasons in brackets when there are any.
    QString explain(const QString &message) const;

private:
    QStringList m_reasons;
    QObject m_context;
};
