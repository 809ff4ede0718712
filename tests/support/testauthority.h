#pragma once

#include "tlsfixture.h"

#include <QString>

// One test authority and a server certificate for 127.0.0.1 signed by it. Nothing is added
// to the machine's trust store: a client trusts the authority only when it is handed caPath().
class TestAuthority
{
public:
    // `name` becomes the authority's common name.
    explicit TestAuthority(const QString &name = QStringLiteral("update test CA"));

    bool create(QString *error = nullptr);

    QString caPath() const { return m_tls.certificatePath(QStringLiteral("ca")); }
    QString serverCertificatePath() const
    {
        return m_tls.certificatePath(QStringLiteral("server"));
    }
    QString serverKeyPath() const { return m_tls.keyPath(QStringLiteral("server")); }
    QString name() const { return m_name; }

private:
    QString m_name;
    TlsFixture m_tls;
};
