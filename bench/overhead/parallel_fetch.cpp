// Up to N requests in flight with QNetworkAccessManager, to see what Qt does with many
// transfers at once: how many connections one manager opens, and what spreading the requests
// over several managers changes.
//
//   parallel_fetch LIST IN_FLIGHT [MANAGERS]
// LIST holds one "URL<TAB>relative path" a line (the path is not used). Request i goes to
// manager i % MANAGERS (default 1). Bodies are read with readAll and dropped.
// Prints "files N failed N ms N".
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

class ParallelFetch : public QObject
{
public:
    ParallelFetch(QList<QUrl> urls, int inFlight, int managers) : m_urls(urls), m_inFlight(inFlight)
    {
        for (int i = 0; i < managers; ++i)
            m_managers.push_back(std::make_unique<QNetworkAccessManager>());
    }

    void start()
    {
        m_timer.start();
        while (m_next < m_urls.size() && m_running < m_inFlight)
            sendNext();
        if (m_urls.isEmpty())
            QCoreApplication::exit(2);
    }

private:
    void sendNext()
    {
        QNetworkAccessManager &manager = *m_managers[size_t(m_next) % m_managers.size()];
        QNetworkReply *reply = manager.get(QNetworkRequest(m_urls.at(m_next)));
        ++m_next;
        ++m_running;
        connect(reply, &QNetworkReply::finished, this, [this, reply] { onFinished(reply); });
    }

    void onFinished(QNetworkReply *reply)
    {
        reply->readAll();
        if (reply->error() != QNetworkReply::NoError)
            ++m_failed;
        reply->deleteLater();
        --m_running;
        ++m_done;
        if (m_next < m_urls.size())
            sendNext();
        if (m_done == m_urls.size()) {
            std::printf("files %d failed %d ms %lld\n", m_done, m_failed,
                        static_cast<long long>(m_timer.elapsed()));
            QCoreApplication::quit();
        }
    }

    QList<QUrl> m_urls;
    int m_inFlight;
    std::vector<std::unique_ptr<QNetworkAccessManager>> m_managers;
    int m_next = 0;
    int m_running = 0;
    int m_done = 0;
    int m_failed = 0;
    QElapsedTimer m_timer;
};

QList<QUrl> readUrls(const QString &path)
{
    QList<QUrl> urls;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return urls;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (!line.isEmpty())
            urls.append(QUrl(QString::fromUtf8(line.split('\t').first())));
    }
    return urls;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int inFlight = args.size() > 2 ? args.at(2).toInt() : 0;
    const int managers = args.size() > 3 ? args.at(3).toInt() : 1;
    if (inFlight < 1 || managers < 1) {
        std::fprintf(stderr, "usage: parallel_fetch LIST IN_FLIGHT [MANAGERS]\n");
        return 2;
    }
    ParallelFetch fetch(readUrls(args.at(1)), inFlight, managers);
    fetch.start();
    return app.exec();
}
