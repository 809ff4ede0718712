#pragma once

#include "nginxserver.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A private tinyproxy (package tinyproxy-bin) on 127.0.0.1: its own folder, configuration and
// log, a free port, in the foreground; killed in stop() or the destructor. It logs every
// request it is asked to pass on. In the Windows build of the tests (under Wine) it is started
// through Wine as a Linux program and stopped by the PID in its pid file.
class TinyProxy
{
public:
    enum class Mode {
        Open,        // passes on everything, CONNECT to any port included
        Refusing,    // refuses every request for 127.0.0.1 with 403 ("Filter")
        Credentials, // asks for User / Password with 407 ("BasicAuth")
    };
    static constexpr const char *User = "user";
    static constexpr const char *Password = "secret";

    explicit TinyProxy(Mode mode = Mode::Open);
    ~TinyProxy();
    TinyProxy(const TinyProxy &) = delete;
    TinyProxy &operator=(const TinyProxy &) = delete;

    // The tinyproxy program; empty when it is not installed.
    static QString program();

    bool start(QString *error);
    void stop();

    quint16 port() const { return m_port; }
    // "http://127.0.0.1:PORT", with "USER:PASSWORD@" when asked.
    QString url(bool withCredentials = false) const;
    // What it was asked for, in order: "GET http://127.0.0.1:P/..." and "CONNECT 127.0.0.1:P".
    QStringList requests() const;

private:
    bool writeConfig(QString *error) const;
    // The platform's part: start the program, know whether it runs, kill it.
    bool launch(QString *error);
    bool isRunning() const;
    void kill();
    QString serverPath(const QString &name) const;

    Mode m_mode;
    QTemporaryDir m_dir;
    quint16 m_port = 0;
    qint64 m_pid = 0;
    NginxProcess m_process; // ends with the test process on Linux
};
