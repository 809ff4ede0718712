#include "managerpool.h"

#include "fetchoptions.h"
#include "updatelog.h"

#include <algorithm>

namespace {

// One manager opens at most six connections to a host.
constexpr int ConnectionsPerManager = 6;

} // namespace

ManagerPool::ManagerPool(int connections, const ProxySettings &proxy) : m_proxy(proxy)
{
    m_first = add();
    if (qMin(connections, FetchOptions::MaxConnections) > ConnectionsPerManager)
        m_second = add();
    m_current = m_first;
}

// The managers delete their pending replies.
ManagerPool::~ManagerPool() = default;

QNetworkAccessManager *ManagerPool::add()
{
    m_owned.push_back(std::make_unique<QNetworkAccessManager>());
    m_proxy.applyTo(m_owned.back().get());
    return m_owned.back().get();
}

QNetworkAccessManager *ManagerPool::next(const QList<QNetworkAccessManager *> &inUse,
                                         bool overHttp2)
{
    if (overHttp2 || !m_second)
        return overHttp2 ? m_current : m_first;
    const int onFirst = int(inUse.count(m_first));
    return onFirst <= inUse.size() - onFirst ? m_first : m_second;
}

void ManagerPool::retire(QNetworkAccessManager *manager)
{
    if (!m_retired.contains(manager))
        m_retired.append(manager);
    if (manager == m_current) {
        m_current = add();
        qCInfo(lcFetch, "the server stops taking requests on its connection; a new one takes them");
    }
}

void ManagerPool::dropIdle(const QList<QNetworkAccessManager *> &inUse)
{
    for (QNetworkAccessManager *manager : QList<QNetworkAccessManager *>(m_retired)) {
        if (inUse.contains(manager) || manager == m_current)
            continue;
        m_retired.removeOne(manager);
        m_first = m_first == manager ? nullptr : m_first;
        m_second = m_second == manager ? nullptr : m_second;
        const auto owned =
            std::find_if(m_owned.begin(), m_owned.end(),
                         [manager](const auto &each) { return each.get() == manager; });
        // Later: the replies it still owns are released (deleteLater) by their transfers.
        owned->release()->deleteLater();
        m_owned.erase(owned);
    }
}
