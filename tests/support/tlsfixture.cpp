#include "tlsfixture.h"

#include "nginxserver.h"
#ifdef Q_OS_WIN
#include "winehost.h"
#endif

#include <QFile>
#include <QProcess>

namespace {

const QStringList P256{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                       QStringLiteral("ec_paramgen_curve:P-256"), QStringLiteral("-nodes")};

} // namespace

TlsFixture::TlsFixture() = default;

QString TlsFixture::certificatePath(const QString &name) const
{
    return m_dir.filePath(name + QStringLiteral(".pem"));
}

QString TlsFixture::keyPath(const QString &name) const
{
    return m_dir.filePath(name + QStringLiteral(".key"));
}

bool TlsFixture::openssl(const QStringList &arguments, QString *error) const
{
#ifdef Q_OS_WIN // the Linux openssl through Wine, with the paths as Linux paths
    QByteArray output;
    if (WineHost::runTool(QStringLiteral("openssl"), arguments, 30000, &output) == 0)
        return true;
    *error =
        QStringLiteral("openssl %1: %2").arg(arguments.value(0), QString::fromLocal8Bit(output));
    return false;
#endif
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *error =
            QStringLiteral("openssl %1: %2")
                .arg(arguments.value(0), QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    return true;
}

bool TlsFixture::makeAuthority(const QString &name, const QString &commonName, QString *error)
{
    return openssl(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + P256 +
                       QStringList{QStringLiteral("-keyout"), keyPath(name), QStringLiteral("-out"),
                                   certificatePath(name), QStringLiteral("-days"),
                                   QStringLiteral("2"), QStringLiteral("-subj"),
                                   QStringLiteral("/CN=") + commonName},
                   error);
}

bool TlsFixture::makeServerCertificate(const QString &name, const QString &authority,
                                       QString *error)
{
    const QString request = m_dir.filePath(name + QStringLiteral(".csr"));
    const QString extensions = m_dir.filePath(name + QStringLiteral(".ext"));
    QFile text(extensions);
    if (!text.open(QIODevice::WriteOnly) ||
        text.write("basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n"
                   "subjectAltName=IP:127.0.0.1,DNS:localhost\n") < 0) {
        *error = text.errorString();
        return false;
    }
    text.close();
    return openssl(QStringList{QStringLiteral("req")} + P256 +
                       QStringList{QStringLiteral("-keyout"), keyPath(name), QStringLiteral("-out"),
                                   request, QStringLiteral("-subj"),
                                   QStringLiteral("/CN=127.0.0.1")},
                   error) &&
           openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), request,
                    QStringLiteral("-CA"), certificatePath(authority), QStringLiteral("-CAkey"),
                    keyPath(authority), QStringLiteral("-CAcreateserial"), QStringLiteral("-out"),
                    certificatePath(name), QStringLiteral("-days"), QStringLiteral("2"),
                    QStringLiteral("-extfile"), extensions},
                   error);
}

QString TlsFixture::listenDirectives(quint16 port, const QString &name) const
{
    return QStringLiteral("        listen 127.0.0.1:%1 ssl;\n"
                          "        ssl_certificate \"%2\";\n"
                          "        ssl_certificate_key \"%3\";\n")
        .arg(port)
        .arg(NginxServer::serverPath(certificatePath(name)),
             NginxServer::serverPath(keyPath(name)));
}
