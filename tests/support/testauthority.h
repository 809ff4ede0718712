#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A certificate authority made for one test with the openssl command line, and a server
// certificate for 127.0.0.1 signed by it (P-256 keys). Nothing is added to the machine's
// trust store: a client trusts the authority only when it is handed caPath().
class TestAuthority
{
public:
    // `name` becomes the authority's common name.
    explicit TestAuthority(const QString &name = QStringLiteral("update test CA"));

    bool create(QString *error = nullptr);

    QString caPath() const { return m_dir.filePath(QStringLiteral("ca.pem")); }
    QString serverCertificatePath() const { return m_dir.filePath(QStringLiteral("server.pem")); }
    QString serverKeyPath() const { return m_dir.filePath(QStringLiteral("server.key")); }
    QString name() const { return m_name; }

private:
    bool openssl(const QStringList &arguments, QString *error) const;

    QString m_name;
    QTemporaryDir m_dir;
};
