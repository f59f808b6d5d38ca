#include "streamservers.h"

#include "testsupport.h"

#include <QHostAddress>
#include <QTcpServer>

#include <iostream>
#include <limits>

namespace {
// A student sent to an edge counts there this long, until nginx-rtmp's
// statistics show the player.
constexpr std::chrono::seconds kSentCounts(10);

// Nothing listens on the port yet.
bool portFree(quint16 port)
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, port);
}

// Read here rather than through NginxRtmp::players(): this runs on the web
// server's threads, and the page is all it needs.
int playersOn(const testsupport::NginxRtmp &server)
{
    QByteArray page;
    if (!testsupport::run(QStringLiteral("curl"), {"-sf", "--max-time", "2", server.statUrl()}, 4000, &page))
        return -1;
    return testsupport::NginxRtmp::playersIn(page);
}
} // namespace

bool StreamServers::start(const QUrl &origin, int edges, bool low, const QString &notify)
{
    m_originBase = origin.toString();
    const quint16 port = quint16(origin.port(1935));
    const bool local =
        QHostAddress(origin.host()) == QHostAddress::LocalHost && origin.path() == QLatin1String("/live");
    if (!local) {
        std::cout << "tavi-demo-school: streams on another server, no nginx-rtmp of its own" << std::endl;
    } else if (!portFree(port)) {
        std::cout << "tavi-demo-school: port " << port << " is taken; streams go to the server there" << std::endl;
    } else {
        m_origin.setPort(port);
        m_origin.setNotifyUrl(notify);
        m_origin.setLowRendition(low);
        if (!m_origin.start()) {
            std::cerr << "tavi-demo-school: nginx-rtmp did not start; no streams\n" << m_origin.log().toStdString();
            return false;
        }
        m_low = low;
        std::cout << "tavi-demo-school: nginx-rtmp on 127.0.0.1:" << port << (low ? " with low renditions" : "")
                  << std::endl;
    }
    for (int i = 0; i < edges; ++i) {
        Edge edge;
        edge.server = std::make_unique<testsupport::NginxRtmp>();
        edge.server->setPull(m_originBase);
        edge.server->setStatPage(true);
        if (!edge.server->start()) {
            std::cerr << "tavi-demo-school: edge " << i + 1 << " did not start\n" << edge.server->log().toStdString();
            return false;
        }
        std::cout << "tavi-demo-school: edge " << i + 1 << " on 127.0.0.1:" << edge.server->port()
                  << ", taking the classes from " << m_originBase.toStdString() << std::endl;
        m_edges.push_back(std::move(edge));
    }
    return true;
}

StreamServers::Places StreamServers::placesForTeacher() const
{
    return {m_originBase, m_originBase, m_low};
}

StreamServers::Places StreamServers::placesForStudent()
{
    if (m_edges.empty())
        return placesForTeacher();
    std::vector<int> players;
    for (const Edge &edge : m_edges)
        players.push_back(playersOn(*edge.server));
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto now = std::chrono::steady_clock::now();
    size_t best = 0;
    int least = std::numeric_limits<int>::max();
    // From the one after the last chosen, so that equal loads take turns.
    for (size_t k = 0; k < m_edges.size(); ++k) {
        const size_t i = (m_next + k) % m_edges.size();
        Edge &edge = m_edges[i];
        while (!edge.sent.empty() && now - edge.sent.front() > kSentCounts)
            edge.sent.pop_front();
        // An edge whose statistics cannot be read is used last.
        const int load = players[i] < 0 ? std::numeric_limits<int>::max() / 2 : players[i] + int(edge.sent.size());
        if (load < least) {
            least = load;
            best = i;
        }
    }
    m_edges[best].sent.push_back(now);
    m_next = best + 1;
    return {m_originBase, m_edges[best].server->url(QString()).chopped(1), m_low};
}
