// Updates over HTTPS from a real nginx whose certificates come from test authorities made
// with the openssl command line; "CaFile" pins the authority the client trusts.
#include "signedreleasefixture.h"

#include "tlsfixture.h"

#include <QFile>
#include <QSslError>
#include <QTest>

namespace {

const QByteArray ForcedUpdate = R"({"errormsg":"","success":true,"update":true})";
const SignedReleaseFixture::Files V1{{QStringLiteral("a.dll"), "library one"},
                                     {QStringLiteral("data/b.dat"), QByteArray(70000, 'b')}};

} // namespace

class TestHttpsUpdate : public SignedReleaseFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { tearDown(); }
    void updatesWithPinnedAuthority_data();
    void updatesWithPinnedAuthority();
    void refusesCertificateItCannotVerify_data();
    void refusesCertificateItCannotVerify();
    void unusableCaFileIsAConfigurationError_data();
    void unusableCaFileIsAConfigurationError();
    void redirectToPlainHttpIsRefused_data();
    void redirectToPlainHttpIsRefused();

private:
    // nginx with TLS on a port of its own, its certificate from `serverCertificate`, and
    // `directives` in its server block.
    void serve(const QString &serverCertificate);
    QString httpsUrl() const { return QStringLiteral("https://127.0.0.1:%1/").arg(m_tlsPort); }
    // The authority's certificate copied into the program's folder as `relative`.
    void placeAuthority(const QString &authority, const QString &relative);

    TlsFixture m_tls;
    quint16 m_tlsPort = 0;
};

void TestHttpsUpdate::initTestCase()
{
    QVERIFY(m_tls.isValid());
    QString error;
    QVERIFY2(
        m_tls.makeAuthority(QStringLiteral("test-ca"), QStringLiteral("update test CA"), &error) &&
            m_tls.makeAuthority(QStringLiteral("other-ca"), QStringLiteral("other CA"), &error) &&
            m_tls.makeServerCertificate(QStringLiteral("server"), QStringLiteral("test-ca"),
                                        &error) &&
            m_tls.makeServerCertificate(QStringLiteral("stranger"), QStringLiteral("other-ca"),
                                        &error),
        qPrintable(error));
}

void TestHttpsUpdate::serve(const QString &serverCertificate)
{
    m_tlsPort = NginxServer::freePort();
    QVERIFY(setUp(m_tls.listenDirectives(m_tlsPort, serverCertificate)));
}

void TestHttpsUpdate::placeAuthority(const QString &authority, const QString &relative)
{
    QVERIFY(writeFile(installDir(), relative, readFile(m_tls.certificatePath(authority))));
}

void TestHttpsUpdate::updatesWithPinnedAuthority_data()
{
    QTest::addColumn<QString>("publicKey");
    QTest::newRow("unsigned release") << QString();
    QTest::newRow("signed release") << QStringLiteral("a");
}

// The worker has a network manager of its own: the files come over TLS only when the
// configuration goes on its requests too.
void TestHttpsUpdate::updatesWithPinnedAuthority()
{
    QFETCH(QString, publicKey);
    serve(QStringLiteral("server"));
    placeAuthority(QStringLiteral("test-ca"), QStringLiteral("certs/update-ca.pem"));
    configure(publicKey.isNull() ? QString() : this->publicKey(publicKey), httpsUrl(),
              QStringLiteral("certs/update-ca.pem"));
    QVERIFY(publish(QStringLiteral("v1"), V1, {QStringLiteral("a")}));
    const UpdaterRun run = runConsole();
    QCOMPARE(run.output, ForcedUpdate);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(readFile(installDir() + QStringLiteral("/data/b.dat")), V1.value("data/b.dat"));
    QTRY_COMPARE(m_install->hostStarts().size(), 1);
}

void TestHttpsUpdate::refusesCertificateItCannotVerify_data()
{
    QTest::addColumn<QString>("serverCertificate");
    QTest::addColumn<QString>("pinned");
    QTest::newRow("server of another authority") << "stranger"
                                                 << "test-ca";
    QTest::newRow("another authority pinned") << "server"
                                              << "other-ca";
    QTest::newRow("test authority, system's authorities") << "server" << QString();
}

void TestHttpsUpdate::refusesCertificateItCannotVerify()
{
    QFETCH(QString, serverCertificate);
    QFETCH(QString, pinned);
    serve(serverCertificate);
    if (!pinned.isNull())
        placeAuthority(pinned, QStringLiteral("ca.pem"));
    configure(QString(), httpsUrl(), pinned.isNull() ? QString() : QStringLiteral("ca.pem"));
    QVERIFY(publish(QStringLiteral("v1"), V1, {}));
    QVERIFY(snapshotInstall());
    const UpdaterRun run = runConsole();
    QCOMPARE(run.exitCode, 1);
    const QString message = lastError(run);
    QVERIFY2(message.startsWith(QStringLiteral("下载升级描述文件失败:")), qPrintable(message));
    // The reason, not only Qt's "SSL handshake failed".
    const QString reason = QSslError(QSslError::UnableToGetLocalIssuerCertificate).errorString();
    QVERIFY2(message.contains(reason), qPrintable(message));
    QByteArray differences;
    QVERIFY2(installUnchanged(&differences), differences.constData());
}

void TestHttpsUpdate::unusableCaFileIsAConfigurationError_data()
{
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<QByteArray>("content"); // null: no such file
    QTest::addColumn<QString>("message");
    QTest::newRow("missing") << "certs/ca.pem" << QByteArray() << "证书文件%1无法读取";
    QTest::newRow("no certificate")
        << "ca.pem" << QByteArray("not a certificate\n") << "证书文件%1中没有证书";
    QTest::newRow("empty value") << "" << QByteArray() << "证书文件%1无法读取";
}

// Never a silent fallback to the system's authorities: nothing is requested at all.
void TestHttpsUpdate::unusableCaFileIsAConfigurationError()
{
    QFETCH(QString, caFile);
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    serve(QStringLiteral("server"));
    if (!content.isNull())
        QVERIFY(writeFile(installDir(), caFile, content));
    configure(QString(), httpsUrl(), caFile);
    QVERIFY(snapshotInstall());
    const UpdaterRun run = runConsole();
    QCOMPARE(run.exitCode, 1);
    const QString expected =
        message.arg(caFile.isEmpty() ? QString() : installDir() + QLatin1Char('/') + caFile);
    QVERIFY2(lastError(run).startsWith(expected), qPrintable(lastError(run)));
    QByteArray differences;
    QVERIFY2(installUnchanged(&differences), differences.constData());
    QCOMPARE(requestCount(), 0);
}

void TestHttpsUpdate::redirectToPlainHttpIsRefused_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("message"); // empty: the release is applied
    QTest::newRow("https to http")
        << "http"
        << QCoreApplication::translate("CDownloadThread", "下载更新文件%1网络错误：%2-%3")
               .arg(QStringLiteral("a.dll"))
               .arg(302)
               .arg(QStringLiteral("Insecure redirect"));
    QTest::newRow("https to https") << "https" << QString();
}

// Regression: with "CaFile" a file redirected from https to plain http was followed. The
// same nginx serves the root in plain HTTP on its first port and with TLS on another.
void TestHttpsUpdate::redirectToPlainHttpIsRefused()
{
    QFETCH(QString, scheme);
    QFETCH(QString, message);
    serve(QStringLiteral("server"));
    // Started again on the same ports, now that both are known.
    m_server->stop();
    const quint16 port = scheme == QLatin1String("https") ? m_tlsPort : m_server->port();
    m_server->setServerDirectives(
        m_tls.listenDirectives(m_tlsPort, QStringLiteral("server")) +
        QStringLiteral(
            "        location = /v1/a.dll { return 302 %1://127.0.0.1:%2/moved/a.dll; }\n")
            .arg(scheme)
            .arg(port));
    QVERIFY(m_server->start());
    placeAuthority(QStringLiteral("test-ca"), QStringLiteral("ca.pem"));
    configure(QString(), httpsUrl(), QStringLiteral("ca.pem"));
    QVERIFY(publish(QStringLiteral("v1"), V1, {}));
    QVERIFY(writeFile(root(), QStringLiteral("moved/a.dll"), V1.value("a.dll")));
    QVERIFY(snapshotInstall());
    const UpdaterRun run = runConsole();
    if (message.isEmpty()) {
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(readFile(installDir() + QStringLiteral("/a.dll")), V1.value("a.dll"));
        QTRY_COMPARE(m_install->hostStarts().size(), 1);
        return;
    }
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(lastError(run), message);
    QByteArray differences;
    QVERIFY2(installUnchanged(&differences), differences.constData());
    QVERIFY(!requestsSince(0).contains(QStringLiteral("/moved/a.dll")));
}

QTEST_GUILESS_MAIN(TestHttpsUpdate)
#include "tst_httpsupdate.moc"
