#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A private nginx on 127.0.0.1: its own prefix folder and configuration, a free port,
// stopped by its PID (SIGQUIT) in stop() or the destructor. When run as root the workers
// run as root too, so any file under `root` is served; otherwise served files must be
// readable by the current user.
// Ends with the test process, so a crashed test leaves no nginx behind. In the Windows build
// of the tests (under Wine) nginx is started through Wine as a Linux program and stopped by
// the PID in its pid file; there the runner stops what a crashed test left.
class NginxProcess : public QProcess
{
protected:
    void setupChildProcess() override;
};

class NginxServer
{
public:
    explicit NginxServer(const QString &root);
    ~NginxServer();
    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    // Extra directives inside the main server block (locations, limit_rate, return ...).
    void setServerDirectives(const QString &text);
    // Extra directives inside the http block, e.g. a second server block.
    void setHttpDirectives(const QString &text);
    // Serves HTTPS instead of HTTP with this certificate (PEM, chain) and key.
    void setTls(const QString &certificatePath, const QString &keyPath);
    // With TLS: offers HTTP/2 too (ALPN), as "listen ... ssl http2".
    void setHttp2(bool http2) { m_http2 = http2; }
    // Fixes the port before start(); otherwise a free one is chosen.
    void setPort(quint16 port);

    bool start(QString *error = nullptr);
    void stop();
    // A graceful reload (SIGHUP): the old worker says GOAWAY to its HTTP/2 clients and ends
    // after worker_shutdown_timeout (1 s), cutting what it still serves.
    bool reload();
    // Kills the workers (SIGKILL), which cuts every connection; the master starts new ones.
    bool killWorkers();

    quint16 port() const { return m_port; }
    // "http://127.0.0.1:PORT/" (https with TLS) followed by `path`.
    QString url(const QString &path = QString()) const;
    // Request paths (URL-decoded target of each request line) from the access log, in order.
    QStringList requestedPaths() const;
    // One line of the access log: what was asked for and what nginx answered.
    struct LoggedRequest
    {
        QString path;
        QString protocol; // "HTTP/1.1", "HTTP/2.0"
        int status = 0;
        qint64 bodyBytesSent = 0;
    };
    QList<LoggedRequest> loggedRequests() const;
    // Waits (bounded) until the access log holds at least `count` requests: nginx writes a
    // line only once it has finished a request, which may be just after the client's reply.
    bool waitForRequests(int count, int timeoutMs = 2000) const;
    QString prefixPath() const { return m_prefix.path(); }

    // A path as nginx sees it (for directives): a Linux path also when the test is a Windows
    // program under Wine.
    static QString serverPath(const QString &path);

    // A TCP port on 127.0.0.1 that was free a moment ago.
    static quint16 freePort();

private:
    QString m_root;
    QString m_serverDirectives;
    QString m_httpDirectives;
    QString m_certificatePath;
    QString m_keyPath;
    bool m_http2 = false;
    QTemporaryDir m_prefix;
    quint16 m_port = 0;
    qint64 m_pid = 0;
    NginxProcess m_process;

    bool writeConfig(QString *error) const;
    bool launch(QString *error);
    bool isRunning() const;
    void signal(const char *name, int timeoutMs);
    bool waitUntilListening(QString *error);
};
