#include "nginxserver.h"
#include "scriptedserver.h"

#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using Ending = ScriptedServer::Ending;

namespace {

// Sends one raw request and collects what arrives within `waitMs` (or until closed).
struct WireResult
{
    QByteArray bytes;
    bool closed = false;
};

WireResult exchange(quint16 port, const QByteArray &request, int waitMs)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    WireResult result;
    if (!socket.waitForConnected(1000))
        return result;
    socket.write(request);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < waitMs && socket.state() == QAbstractSocket::ConnectedState) {
        QTest::qWait(10);
        result.bytes += socket.readAll();
    }
    result.bytes += socket.readAll();
    result.closed = socket.state() != QAbstractSocket::ConnectedState;
    return result;
}

QByteArray headOf(const QByteArray &bytes)
{
    return bytes.left(bytes.indexOf("\r\n\r\n") + 4);
}
QByteArray bodyOf(const QByteArray &bytes)
{
    return bytes.mid(bytes.indexOf("\r\n\r\n") + 4);
}

} // namespace

// The HTTP tests rely on these servers producing exactly the fault they are asked for.
class TestTestServers : public QObject
{
    Q_OBJECT

private slots:
    void scriptedEndingsOnTheWire_data()
    {
        QTest::addColumn<int>("ending");
        QTest::addColumn<bool>("expectHead");
        QTest::addColumn<QByteArray>("expectBody");
        QTest::addColumn<bool>("expectClosed");
        QTest::newRow("complete") << int(Ending::Complete) << true << QByteArray("0123456789")
                                  << true;
        QTest::newRow("never answers")
            << int(Ending::NeverAnswer) << false << QByteArray() << false;
        QTest::newRow("stall after headers")
            << int(Ending::StallAfterHeaders) << true << QByteArray() << false;
        QTest::newRow("stall after part")
            << int(Ending::StallAfterPart) << true << QByteArray("0123") << false;
        QTest::newRow("close after part")
            << int(Ending::CloseAfterPart) << true << QByteArray("0123") << true;
        QTest::newRow("trickle") << int(Ending::Trickle) << true << QByteArray("0123456789")
                                 << true;
    }
    void scriptedEndingsOnTheWire()
    {
        QFETCH(int, ending);
        QFETCH(bool, expectHead);
        QFETCH(QByteArray, expectBody);
        QFETCH(bool, expectClosed);
        ScriptedServer server;
        QVERIFY(server.listen());
        ScriptedServer::Response response;
        response.body = "0123456789";
        response.ending = Ending(ending);
        response.partBytes = 4;
        server.setResponse(QStringLiteral("a b"), response);

        const WireResult result =
            exchange(server.port(), "GET /a%20b HTTP/1.1\r\nHost: x\r\n\r\n", 400);
        QCOMPARE(headOf(result.bytes).startsWith("HTTP/1.1 200 OK\r\n"), expectHead);
        if (expectHead)
            QVERIFY(headOf(result.bytes).contains("Content-Length: 10\r\n"));
        QCOMPARE(bodyOf(result.bytes), expectBody);
        QCOMPARE(result.closed, expectClosed);
        QCOMPARE(server.requestCount(QStringLiteral("a b")), 1);
    }

    void scriptedUnknownPathIs404()
    {
        ScriptedServer server;
        QVERIFY(server.listen());
        const WireResult result = exchange(server.port(), "GET /nothing HTTP/1.1\r\n\r\n", 400);
        QVERIFY(result.bytes.startsWith("HTTP/1.1 404 "));
        QCOMPARE(server.requestedPaths(), QStringList{QStringLiteral("nothing")});
    }

    void nginxLogsDecodedPathsAndStops()
    {
        QTemporaryDir root;
        QFile file(root.filePath(QStringLiteral("文件 1.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("hello");
        file.close();
        NginxServer nginx(root.path());
        QString error;
        QVERIFY2(nginx.start(&error), qPrintable(error));
        const WireResult result = exchange(
            nginx.port(),
            "GET /%E6%96%87%E4%BB%B6%201.txt HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
            1000);
        QVERIFY2(result.bytes.startsWith("HTTP/1.1 200 OK"), result.bytes.constData());
        QCOMPARE(bodyOf(result.bytes), QByteArray("hello"));
        QVERIFY(nginx.waitForRequests(1));
        QCOMPARE(nginx.requestedPaths(), QStringList{QStringLiteral("/文件 1.txt")});

        nginx.stop();
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, nginx.port());
        QVERIFY(!probe.waitForConnected(500));
    }
};

QTEST_GUILESS_MAIN(TestTestServers)
#include "tst_testservers.moc"
