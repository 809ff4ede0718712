#pragma once

#include <QString>
#include <QTemporaryDir>

// Test authorities and server certificates made with the openssl command line, and the
// nginx directives that add a TLS port to a server with one of them. Each authority is a
// self-signed P-256 certificate; a server certificate names 127.0.0.1 and localhost. Nothing
// is added to the machine's trust store: a client trusts an authority only when it is handed
// its certificate.
class TlsFixture
{
public:
    TlsFixture();

    bool isValid() const { return m_dir.isValid(); }
    // NAME.pem and NAME.key, a new authority with the common name `commonName`.
    bool makeAuthority(const QString &name, const QString &commonName, QString *error);
    // NAME.pem and NAME.key, signed by the authority `authority`.
    bool makeServerCertificate(const QString &name, const QString &authority, QString *error);

    QString certificatePath(const QString &name) const;
    QString keyPath(const QString &name) const;

    // For NginxServer::setServerDirectives: TLS on 127.0.0.1:`port` with the server
    // certificate `name`, and HTTP/2 too when asked.
    QString listenDirectives(quint16 port, const QString &name, bool http2 = false) const;

private:
    bool openssl(const QStringList &arguments, QString *error) const;

    QTemporaryDir m_dir;
};
