// A bare QNetworkAccessManager loop that fetches a list of URLs one after another, with each
// setting and each per-file step of the updater switched on by an option, so that their costs
// can be told apart (wall time here, system calls under strace -c, instructions under callgrind).
//
//   fetch_loop LIST OUT_DIR [options]
// LIST holds one "URL<TAB>relative path" a line. Options:
//   --read-buffer BYTES   QNetworkReply::setReadBufferSize after get() (default: not called)
//   --redirect user       RedirectPolicyAttribute = UserVerifiedRedirectPolicy, redirects allowed
//   --timeout MS          QNetworkRequest::setTransferTimeout
//   --stream              read the body in readyRead into a 1 MiB buffer (default: readAll at end)
//   --hash                MD5 of the body
//   --store MODE          none (default) | qfile (write, close) | rename (write a temporary
//                         file, close, rename) | savefile (QSaveFile, Unbuffered: fdatasync+rename)
//   --lookups             the QFileInfo/QDir look-ups the updater makes per file
//   --http2               HTTP/2 allowed, with the updater's stream window (128 MiB)
//   --ca FILE             trust only the authorities in this PEM file (https)
// Prints "files N failed N ms N".
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHttp2Configuration>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {

struct Options
{
    qint64 readBuffer = -1;
    bool userRedirects = false;
    int timeoutMs = -1;
    bool stream = false;
    bool hash = false;
    QString store = QStringLiteral("none");
    bool lookups = false;
    bool http2 = false;
    QString caFile;
};

struct Item
{
    QUrl url;
    QString path;
};

class FetchLoop : public QObject
{
public:
    FetchLoop(Options options, QList<Item> items, QDir out)
        : m_options(options), m_items(items), m_out(out)
    {
        m_chunk.resize(1024 * 1024);
    }

    void start()
    {
        m_timer.start();
        next();
    }

private:
    void next();
    void send(const QString &target);
    void onReadyRead();
    void onFinished();
    void consume(const char *data, qint64 size);
    bool finishBody(const QString &target);
    void lookUp(const QFileInfo &target);

    Options m_options;
    QList<Item> m_items;
    QDir m_out;
    int m_current = 0;
    int m_failed = 0;
    QElapsedTimer m_timer;
    QNetworkAccessManager m_manager;
    QByteArray m_chunk;
    QByteArray m_body; // only for the stores that write at the end
    QCryptographicHash m_hash{QCryptographicHash::Md5};
    std::unique_ptr<QSaveFile> m_saveFile;
};

void FetchLoop::next()
{
    if (m_current == m_items.size()) {
        std::printf("files %d failed %d ms %lld\n", int(m_items.size()), m_failed,
                    static_cast<long long>(m_timer.elapsed()));
        QCoreApplication::quit();
        return;
    }
    const QString target = m_out.absoluteFilePath(m_items.at(m_current).path);
    if (m_options.lookups)
        lookUp(QFileInfo(target));
    else if (m_options.store != QLatin1String("none"))
        QDir().mkpath(QFileInfo(target).absolutePath());
    send(target);
}

// What the updater asks of the file system per file before its request and in the apply.
void FetchLoop::lookUp(const QFileInfo &target)
{
    if (target.isFile() && !target.isSymLink())
        return;
    if (!(target.exists() || target.isSymLink()) && !target.absoluteDir().exists())
        QDir().mkpath(target.absolutePath());
}

void FetchLoop::send(const QString &target)
{
    QNetworkRequest request(m_items.at(m_current).url);
    if (m_options.userRedirects)
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::UserVerifiedRedirectPolicy);
    if (m_options.timeoutMs >= 0)
        request.setTransferTimeout(m_options.timeoutMs);
    if (m_options.http2) {
        request.setAttribute(QNetworkRequest::Http2AllowedAttribute, true);
        QHttp2Configuration http2 = request.http2Configuration();
        http2.setStreamReceiveWindowSize(128 * 1024 * 1024);
        request.setHttp2Configuration(http2);
    }
    if (!m_options.caFile.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslCertificate::fromPath(m_options.caFile));
        request.setSslConfiguration(tls);
    }
    m_hash.reset();
    m_body.clear();
    if (m_options.store == QLatin1String("savefile")) {
        m_saveFile = std::make_unique<QSaveFile>(target);
        m_saveFile->open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    QNetworkReply *reply = m_manager.get(request);
    if (m_options.readBuffer >= 0)
        reply->setReadBufferSize(m_options.readBuffer);
    if (m_options.userRedirects)
        connect(reply, &QNetworkReply::redirected, reply,
                [reply] { emit reply->redirectAllowed(); });
    if (m_options.stream)
        connect(reply, &QNetworkReply::readyRead, this, &FetchLoop::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &FetchLoop::onFinished);
}

void FetchLoop::consume(const char *data, qint64 size)
{
    if (m_options.hash)
        m_hash.addData(data, int(size));
    if (m_saveFile)
        m_saveFile->write(data, size);
    else if (m_options.store != QLatin1String("none"))
        m_body.append(data, int(size));
}

void FetchLoop::onReadyRead()
{
    auto *reply = static_cast<QNetworkReply *>(sender());
    while (reply->bytesAvailable() > 0) {
        const qint64 got = reply->read(m_chunk.data(), m_chunk.size());
        if (got <= 0)
            return;
        consume(m_chunk.constData(), got);
    }
}

bool FetchLoop::finishBody(const QString &target)
{
    if (m_saveFile) {
        const bool ok = m_saveFile->commit();
        m_saveFile.reset();
        return ok;
    }
    if (m_options.store == QLatin1String("none"))
        return true;
    const bool renamed = m_options.store == QLatin1String("rename");
    QFile file(renamed ? target + QStringLiteral(".part") : target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(m_body) != m_body.size())
        return false;
    file.close();
    return !renamed || std::rename(QFile::encodeName(file.fileName()).constData(),
                                   QFile::encodeName(target).constData()) == 0;
}

void FetchLoop::onFinished()
{
    auto *reply = static_cast<QNetworkReply *>(sender());
    if (m_options.stream)
        onReadyRead();
    else {
        const QByteArray all = reply->readAll();
        consume(all.constData(), all.size());
    }
    const QString target = m_out.absoluteFilePath(m_items.at(m_current).path);
    if (reply->error() != QNetworkReply::NoError || !finishBody(target))
        ++m_failed;
    if (m_options.hash)
        m_hash.result();
    reply->deleteLater();
    ++m_current;
    next();
}

bool parseOptions(const QStringList &args, Options *options)
{
    for (int i = 3; i < args.size(); ++i) {
        const QString &name = args.at(i);
        const QString value = i + 1 < args.size() ? args.at(i + 1) : QString();
        if (name == QLatin1String("--stream"))
            options->stream = true;
        else if (name == QLatin1String("--hash"))
            options->hash = true;
        else if (name == QLatin1String("--lookups"))
            options->lookups = true;
        else if (name == QLatin1String("--read-buffer") && !value.isEmpty())
            options->readBuffer = args.at(++i).toLongLong();
        else if (name == QLatin1String("--timeout") && !value.isEmpty())
            options->timeoutMs = args.at(++i).toInt();
        else if (name == QLatin1String("--redirect") && value == QLatin1String("user"))
            options->userRedirects = (++i, true);
        else if (name == QLatin1String("--store") && !value.isEmpty())
            options->store = args.at(++i);
        else if (name == QLatin1String("--http2"))
            options->http2 = true;
        else if (name == QLatin1String("--ca") && !value.isEmpty())
            options->caFile = args.at(++i);
        else
            return false;
    }
    return true;
}

QList<Item> readList(const QString &path)
{
    QList<Item> items;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return items;
    while (!file.atEnd()) {
        const QList<QByteArray> parts = file.readLine().trimmed().split('\t');
        if (parts.size() == 2)
            items.append({QUrl(QString::fromUtf8(parts.at(0))), QString::fromUtf8(parts.at(1))});
    }
    return items;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    Options options;
    if (args.size() < 3 || !parseOptions(args, &options)) {
        std::fprintf(stderr, "usage: fetch_loop LIST OUT_DIR [options] (see the source)\n");
        return 2;
    }
    const QList<Item> items = readList(args.at(1));
    if (items.isEmpty()) {
        std::fprintf(stderr, "no URLs in %s\n", qPrintable(args.at(1)));
        return 2;
    }
    QDir().mkpath(args.at(2));
    FetchLoop loop(options, items, QDir(args.at(2)));
    loop.start();
    return app.exec();
}
