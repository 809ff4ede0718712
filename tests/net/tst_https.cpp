// HTTPS against nginx with a certificate from a test authority: the TLS stack the program
// is linked with (the system's OpenSSL on Linux, the static OpenSSL 3 in the Windows build)
// completes the handshake, verifies the chain and says why it refuses an unknown authority.
#include "httprequest.h"
#include "nginxserver.h"
#include "tlsfixture.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString AuthorityName = QStringLiteral("update test CA");

} // namespace

class TestHttps : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void trustedAuthorityGivesTheFile();
    void unknownAuthorityIsRefusedWithItsReason();
    void requestHelperFailsTheFetch();

private:
    QNetworkReply *get(QNetworkAccessManager *manager, const QList<QSslCertificate> &trusted);

    QTemporaryDir m_root;
    TlsFixture m_tls;
    QScopedPointer<NginxServer> m_nginx;
};

void TestHttps::initTestCase()
{
    QVERIFY(QSslSocket::supportsSsl());
    qInfo("TLS library: %s", qPrintable(QSslSocket::sslLibraryVersionString()));
    QVERIFY(m_tls.isValid());
    QString error;
    QVERIFY2(
        m_tls.makeAuthority(QStringLiteral("ca"), AuthorityName, &error) &&
            m_tls.makeServerCertificate(QStringLiteral("server"), QStringLiteral("ca"), &error),
        qPrintable(error));
    QFile file(m_root.filePath(QStringLiteral("hello.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("hello over TLS") == 14);
    file.close();
    m_nginx.reset(new NginxServer(m_root.path()));
    m_nginx->setTls(m_tls.certificatePath(QStringLiteral("server")),
                    m_tls.keyPath(QStringLiteral("server")));
    QVERIFY2(m_nginx->start(&error), qPrintable(error));
    QVERIFY(m_nginx->url().startsWith(QStringLiteral("https://127.0.0.1:")));
}

// A manager of its own per request: one manager reuses an open TLS connection even for a
// request with another trust setting.
QNetworkReply *TestHttps::get(QNetworkAccessManager *manager, const QList<QSslCertificate> &trusted)
{
    QNetworkRequest request(QUrl(m_nginx->url(QStringLiteral("hello.txt"))));
    if (!trusted.isEmpty()) {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setCaCertificates(trusted);
        request.setSslConfiguration(configuration);
    }
    QNetworkReply *reply = manager->get(request);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    finished.wait(20000);
    return reply;
}

void TestHttps::trustedAuthorityGivesTheFile()
{
    QNetworkAccessManager manager;
    const auto authority = QSslCertificate::fromPath(m_tls.certificatePath(QStringLiteral("ca")));
    QCOMPARE(authority.size(), 1);
    QScopedPointer<QNetworkReply> reply(get(&manager, authority));
    QVERIFY(reply->isFinished());
    QVERIFY2(reply->error() == QNetworkReply::NoError, qPrintable(reply->errorString()));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    QCOMPARE(reply->readAll(), QByteArray("hello over TLS"));
    const QSslConfiguration session = reply->sslConfiguration();
    qInfo("protocol %d, cipher %s", int(session.sessionProtocol()),
          qPrintable(session.sessionCipher().name()));
    QVERIFY(session.sessionProtocol() == QSsl::TlsV1_3 ||
            session.sessionProtocol() == QSsl::TlsV1_2);
}

void TestHttps::unknownAuthorityIsRefusedWithItsReason()
{
    QNetworkAccessManager manager;
    QList<QSslError> errors;
    connect(&manager, &QNetworkAccessManager::sslErrors, this,
            [&errors](QNetworkReply *, const QList<QSslError> &found) { errors += found; });
    QScopedPointer<QNetworkReply> reply(get(&manager, {}));
    QVERIFY(reply->isFinished());
    QCOMPARE(reply->error(), QNetworkReply::SslHandshakeFailedError);
    QVERIFY(reply->readAll().isEmpty());
    // The server's chain arrived and was checked: the refusal names our authority as the
    // issuer it could not find among the trusted ones.
    QVERIFY(!errors.isEmpty());
    QStringList reasons;
    for (const QSslError &error : qAsConst(errors))
        reasons << error.errorString();
    qInfo("refused: %s", qPrintable(reasons.join(QStringLiteral("; "))));
    const QSslError &first = errors.first();
    QVERIFY2(first.error() == QSslError::UnableToGetLocalIssuerCertificate ||
                 first.error() == QSslError::SelfSignedCertificateInChain,
             qPrintable(first.errorString()));
    QCOMPARE(first.certificate().subjectInfo(QSslCertificate::CommonName),
             QStringList(QStringLiteral("127.0.0.1")));
    QCOMPARE(first.certificate().issuerInfo(QSslCertificate::CommonName),
             QStringList(AuthorityName));
}

// What the updater's own fetch reports for such a server with the system's authorities
// only: a failed fetch, no body, the reason in the message.
void TestHttps::requestHelperFailsTheFetch()
{
    QNetworkAccessManager manager;
    QByteArray body = "untouched";
    QString error;
    const bool fetched =
        sendHttpRequest(&manager, QUrl(m_nginx->url(QStringLiteral("hello.txt"))), &body, &error,
                        20, {}, QByteArrayLiteral("GET"), {}, nullptr);
    QVERIFY(!fetched);
    QCOMPARE(body, QByteArray("untouched"));
    QVERIFY2(error.startsWith(QStringLiteral("SSL handshake failed (")), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("issuer certificate")), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestHttps)
#include "tst_https.moc"
