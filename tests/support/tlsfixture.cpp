#include "tlsfixture.h"

#include "nginxserver.h"
#include "testfiles.h"
#include "toolrun.h"

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
    const ToolRun run = runTool(QStringLiteral("openssl"), arguments, 30000);
    if (run.exitCode == 0)
        return true;
    // Under Wine its messages arrive in the output.
    *error = QStringLiteral("openssl %1: %2")
                 .arg(arguments.value(0), QString::fromLocal8Bit(run.errors + run.output));
    return false;
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
    if (!writeFile(extensions, "basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n"
                               "subjectAltName=IP:127.0.0.1,DNS:localhost\n")) {
        *error = QStringLiteral("cannot write ") + extensions;
        return false;
    }
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

QString TlsFixture::listenDirectives(quint16 port, const QString &name, bool http2) const
{
    return QStringLiteral("        listen 127.0.0.1:%1 ssl%4;\n"
                          "        ssl_certificate \"%2\";\n"
                          "        ssl_certificate_key \"%3\";\n")
        .arg(port)
        .arg(NginxServer::serverPath(certificatePath(name)), NginxServer::serverPath(keyPath(name)),
             http2 ? QStringLiteral(" http2") : QString());
}
