#pragma once

#include "packlist.h"
#include "proxysettings.h"
#include "verifiedrelease.h"

#include <QByteArray>
#include <QMap>
#include <QSslConfiguration>
#include <QString>

#include <optional>

// How the files of a run are fetched into the cache.
struct FetchOptions
{
    static constexpr int DefaultTransferTimeoutMs = 60000;
    // The most files in flight at once; "Connections" in system.cfg is clamped to it.
    static constexpr int MaxConnections = 8;
    // The same over one HTTP/2 connection ("Http2"): below the 128 streams nginx takes at
    // once, since beyond a server's limit Qt rescans its queue for every stream that ends.
    static constexpr int MaxHttp2Streams = 100;

    // A transfer that receives nothing for this long fails.
    int transferTimeoutMs = DefaultTransferTimeoutMs;
    // Goes on every request (see tlsconfig.h); absent: Qt's defaults.
    std::optional<QSslConfiguration> sslConfiguration;
    // Files in flight at once, 1 to MaxConnections (MaxHttp2Streams with `http2`, of which
    // more than MaxConnections only once a reply came over HTTP/2). With 1, the files are
    // fetched strictly one after another and the progress is the reply's own; with more, it
    // carries the bytes of the whole update: those of the files done (fetched or found in the
    // cache) and in flight, against the listed size of all files.
    int connections = 1;
    // https requests may use HTTP/2 (see allowHttp2).
    bool http2 = false;
    // Goes on every manager; by default Qt's.
    ProxySettings proxy;
    // A signed release: every file must then also match its SHA-256 in sha256.txt. Null for
    // an unsigned release.
    VerifiedRelease release;
    // The release's packed copies; empty: every file is fetched whole, as without them.
    PackList packs;
    // The digest text of what is installed at each path to fetch, as the comparison found
    // it: a patch is fetched only when its base is this.
    QMap<QString, QByteArray> installedMd5;
};
