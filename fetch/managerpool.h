#pragma once

#include "proxysettings.h"

#include <QList>
#include <QNetworkAccessManager>

#include <memory>
#include <vector>

// The network managers of a fill. Over HTTP/1.1 one manager opens at most six connections to a
// host, so more files in flight take a second one; over HTTP/2 one manager, one connection,
// takes every file. When an HTTP/2 connection stops taking streams (GOAWAY), a fresh manager
// takes every request from then on while the old one finishes its streams: Qt 5.15 fails a
// request handed to a connection that is going away before anybody listens to it, and the
// reply then never finishes.
class ManagerPool
{
public:
    // `connections`: the files in flight at most before HTTP/2 is known.
    ManagerPool(int connections, const ProxySettings &proxy);
    ~ManagerPool();
    ManagerPool(const ManagerPool &) = delete;
    ManagerPool &operator=(const ManagerPool &) = delete;

    // For the next request: over HTTP/2 the current manager, otherwise the one that fewer of
    // `inUse` (the managers of the transfers in flight) point at.
    QNetworkAccessManager *next(const QList<QNetworkAccessManager *> &inUse, bool overHttp2);
    // `manager`'s connection said GOAWAY.
    void retire(QNetworkAccessManager *manager);
    // Deletes the retired managers that none of `inUse` points at any more.
    void dropIdle(const QList<QNetworkAccessManager *> &inUse);

private:
    QNetworkAccessManager *add();

    ProxySettings m_proxy;
    std::vector<std::unique_ptr<QNetworkAccessManager>> m_owned;
    QNetworkAccessManager *m_first = nullptr;
    QNetworkAccessManager *m_second = nullptr;  // for more than six connections over HTTP/1.1
    QNetworkAccessManager *m_current = nullptr; // over HTTP/2
    QList<QNetworkAccessManager *> m_retired;
};
