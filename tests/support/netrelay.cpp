// tavi-netrelay LISTEN_ADDRESS LISTEN_PORT TARGET_PORT DELAY_MS JITTER_MS
// Relays each TCP connection to 127.0.0.1:TARGET_PORT, holding every chunk
// DELAY_MS +- JITTER_MS (uniform) in each direction, in order, as a long
// line would. At most 128 kB waits in each direction; beyond that the relay
// stops reading, so a slow reader slows the writer as TCP does.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
constexpr size_t kHeldLimit = 128 << 10;

struct Chunk
{
    Clock::time_point due;
    std::string data;
};

struct Direction
{
    int from = -1, to = -1;
    std::deque<Chunk> held;
    size_t bytes = 0;
    bool ended = false;
};

struct Pair
{
    Direction up, down;
};

std::mt19937 g_random(std::random_device{}());
int g_delay = 0, g_jitter = 0;

Clock::time_point dueTime(const Direction &d)
{
    std::uniform_int_distribution<int> jitter(-g_jitter, g_jitter);
    auto due = Clock::now() + std::chrono::milliseconds(g_delay + jitter(g_random));
    // TCP keeps order: a chunk never overtakes the one before it.
    if (!d.held.empty() && d.held.back().due > due)
        due = d.held.back().due;
    return due;
}

// False when the direction is over.
bool readInto(Direction &d)
{
    char buffer[65536];
    const ssize_t n = read(d.from, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    d.held.push_back({dueTime(d), std::string(buffer, size_t(n))});
    d.bytes += size_t(n);
    return true;
}

bool writeDue(Direction &d)
{
    const auto now = Clock::now();
    while (!d.held.empty() && d.held.front().due <= now) {
        std::string &data = d.held.front().data;
        const ssize_t n = send(d.to, data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK;
        d.bytes -= size_t(n);
        data.erase(0, size_t(n));
        if (!data.empty())
            return true;
        d.held.pop_front();
    }
    return true;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 6)
        return 2;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    signal(SIGPIPE, SIG_IGN);
    g_delay = std::atoi(argv[4]);
    g_jitter = std::min(std::atoi(argv[5]), g_delay);
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(std::atoi(argv[2])));
    inet_pton(AF_INET, argv[1], &address.sin_addr);
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) < 0 || listen(listener, 16) < 0)
        return 1;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(uint16_t(std::atoi(argv[3])));
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    std::vector<std::unique_ptr<Pair>> pairs;
    for (;;) {
        std::vector<pollfd> fds{{listener, POLLIN, 0}};
        std::vector<Direction *> owners{nullptr};
        auto next = Clock::now() + std::chrono::seconds(1);
        for (auto &p : pairs)
            for (Direction *d : {&p->up, &p->down}) {
                short events = 0;
                if (!d->ended && d->bytes < kHeldLimit)
                    events |= POLLIN;
                if (!d->held.empty()) {
                    if (d->held.front().due <= Clock::now())
                        events |= POLLOUT;
                    else
                        next = std::min(next, d->held.front().due);
                }
                fds.push_back({d->from, short(events & POLLIN), 0});
                owners.push_back(d);
                fds.push_back({d->to, short(events & POLLOUT), 0});
                owners.push_back(d);
            }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
        poll(fds.data(), fds.size(), int(std::max<long long>(0, wait) + 1));
        if (fds[0].revents & POLLIN) {
            const int client = accept(listener, nullptr, nullptr);
            const int server = socket(AF_INET, SOCK_STREAM, 0);
            if (client >= 0 && connect(server, reinterpret_cast<sockaddr *>(&target), sizeof target) == 0) {
                setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                auto p = std::make_unique<Pair>();
                p->up.from = p->down.to = client;
                p->up.to = p->down.from = server;
                pairs.push_back(std::move(p));
            } else {
                close(client);
                close(server);
            }
            continue;
        }
        bool gone = false;
        for (size_t i = 1; i < fds.size(); ++i) {
            Direction *d = owners[i];
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) && fds[i].fd == d->from && !readInto(*d))
                d->ended = true;
            if (fds[i].fd == d->to && (fds[i].revents & (POLLERR | POLLHUP)))
                d->ended = gone = true;
        }
        for (auto &p : pairs)
            for (Direction *d : {&p->up, &p->down})
                if (!writeDue(*d) || (d->ended && d->held.empty()))
                    gone = true;
        if (!gone)
            continue;
        // A connection ends as a whole once either side has gone and what it
        // said has been passed on.
        for (auto it = pairs.begin(); it != pairs.end();) {
            Pair &p = **it;
            const bool over = (p.up.ended && p.up.held.empty()) || (p.down.ended && p.down.held.empty());
            if (over) {
                close(p.up.from);
                close(p.up.to);
                it = pairs.erase(it);
            } else {
                ++it;
            }
        }
    }
}
