#include "testauthority.h"

#include <QFile>
#include <QProcess>

#ifdef Q_OS_WIN
#include "winehost.h"
#endif

namespace {

// Paths as the openssl program sees them: Linux paths also from a Windows test under Wine.
QString toolPath(const QString &path)
{
#ifdef Q_OS_WIN
    return WineHost::unixPath(path);
#else
    return path;
#endif
}

} // namespace

TestAuthority::TestAuthority(const QString &name) : m_name(name) {}

bool TestAuthority::create(QString *error)
{
    QString ignored;
    QString &message = error ? *error : ignored;
    if (!m_dir.isValid()) {
        message = QStringLiteral("no temporary folder for the certificates");
        return false;
    }
    const QString dir = toolPath(m_dir.path());
    const QString extensions = m_dir.filePath(QStringLiteral("server.ext"));
    QFile ext(extensions);
    if (!ext.open(QIODevice::WriteOnly) ||
        ext.write("subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n") < 0) {
        message = ext.errorString();
        return false;
    }
    ext.close();
    const QString ec = QStringLiteral("ec:") + dir + QStringLiteral("/params.pem");
    return openssl({"ecparam", "-name", "prime256v1", "-out", dir + "/params.pem"}, &message) &&
           openssl({"req", "-x509", "-newkey", ec, "-nodes", "-days", "2", "-subj", "/CN=" + m_name,
                    "-keyout", dir + "/ca.key", "-out", dir + "/ca.pem"},
                   &message) &&
           openssl({"req", "-new", "-newkey", ec, "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
                    dir + "/server.key", "-out", dir + "/server.csr"},
                   &message) &&
           openssl({"x509", "-req", "-in", dir + "/server.csr", "-CA", dir + "/ca.pem", "-CAkey",
                    dir + "/ca.key", "-CAcreateserial", "-days", "2", "-extfile",
                    dir + "/server.ext", "-out", dir + "/server.pem"},
                   &message);
}

bool TestAuthority::openssl(const QStringList &arguments, QString *error) const
{
#ifdef Q_OS_WIN
    QByteArray output;
    const int code = WineHost::run(QStringLiteral("/usr/bin/openssl"), arguments, 30000, &output);
#else
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("openssl"), arguments);
    const bool finished = process.waitForFinished(30000);
    const QByteArray output = process.readAll();
    const int code =
        finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
#endif
    if (code != 0)
        *error = QStringLiteral("openssl %1 failed: %2")
                     .arg(arguments.value(0), QString::fromLocal8Bit(output));
    return code == 0;
}
