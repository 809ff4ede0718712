#include "testauthority.h"

TestAuthority::TestAuthority(const QString &name) : m_name(name) {}

bool TestAuthority::create(QString *error)
{
    QString ignored;
    QString &message = error ? *error : ignored;
    if (!m_tls.isValid()) {
        message = QStringLiteral("no temporary folder for the certificates");
        return false;
    }
    return m_tls.makeAuthority(QStringLiteral("ca"), m_name, &message) &&
           m_tls.makeServerCertificate(QStringLiteral("server"), QStringLiteral("ca"), &message);
}
