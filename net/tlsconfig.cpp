#include "tlsconfig.h"

#include <QFile>
#include <QNetworkReply>
#include <QObject>
#include <QSslCertificate>

bool loadCaFile(const QString &path, QSslConfiguration *configuration, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QObject::tr("证书文件%1无法读取:%2").arg(path, file.errorString());
        return false;
    }
    const QList<QSslCertificate> certificates =
        QSslCertificate::fromData(file.readAll(), QSsl::Pem);
    if (certificates.isEmpty()) {
        *error = QObject::tr("证书文件%1中没有证书").arg(path);
        return false;
    }
    QSslConfiguration pinned = QSslConfiguration::defaultConfiguration();
    // Replaces the list and stops Qt from loading the system's roots on demand.
    pinned.setCaCertificates(certificates);
    *configuration = pinned;
    return true;
}

void TlsErrorLog::watch(QNetworkReply *reply)
{
    m_reasons.clear();
    QObject::connect(reply, &QNetworkReply::sslErrors, &m_context,
                     [this](const QList<QSslError> &errors) {
                         for (const QSslError &error : errors) {
                             if (!m_reasons.contains(error.errorString()))
                                 m_reasons.append(error.errorString());
                         }
                     });
}

QString TlsErrorLog::explain(const QString &message) const
{
    if (m_reasons.isEmpty())
        return message;
    return QStringLiteral("%1 (%2)").arg(message, m_reasons.join(QStringLiteral("; ")));
}
