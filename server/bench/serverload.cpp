// A load generator for the reference update server, and for a static file server as its
// yardstick: N clients at once, each on its own kept-alive connection, for a fixed time.
//
//   bench-serverload update PORT SECONDS CLIENTS CIRCULARS
//       each client asks for a random set of 1-20 of the circulars 1..CIRCULARS
//       (archivoValores.asp), follows the redirect to the answer page and fetches the
//       package its first link names: three requests per round
//   bench-serverload update PORT SECONDS CLIENTS CIRCULARS SETS
//       the same, each client drawing its set from the same SETS random sets, as viewers
//       mostly ask for the same newest circulars: packages asked for again
//   bench-serverload static PORT SECONDS CLIENTS LISTFILE
//       each client fetches files named in LISTFILE (one path a line) at random
//
// Bodies over 64 KiB are read and dropped without copying, so that the client costs the
// machine little. Prints requests, requests per second, p50/p99 latency and errors (any unexpected
// status or broken connection). Loopback only.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Response {
    int status = 0;
    std::string location;
    std::string body;
};

class Connection {
public:
    explicit Connection(int port)
        : m_port(port)
    {
    }
    ~Connection() { drop(); }

    // One GET; false on a broken connection (tried again once on a fresh one).
    bool get(const std::string &target, Response *response)
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (m_fd < 0 && !open())
                return false;
            if (exchange(target, response))
                return true;
            drop();
        }
        return false;
    }

private:
    bool open()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(m_port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval timeout{10, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        int one = 1;
        setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            drop();
            return false;
        }
        m_buffer.clear();
        return true;
    }

    void drop()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    bool fill()
    {
        char chunk[65536];
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        m_buffer.append(chunk, size_t(n));
        return true;
    }

    // Reads and drops `length` bytes of body (packages are not looked at).
    bool skip(size_t length)
    {
        const size_t buffered = std::min(length, m_buffer.size());
        m_buffer.erase(0, buffered);
        length -= buffered;
        char chunk[65536];
        while (length > 0) {
            const ssize_t n = ::recv(m_fd, chunk, std::min(length, sizeof chunk), 0);
            if (n <= 0)
                return false;
            length -= size_t(n);
        }
        return true;
    }

    bool exchange(const std::string &target, Response *response)
    {
        const std::string request =
            "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: bench\r\n\r\n";
        if (::send(m_fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size()))
            return false;
        size_t end;
        while ((end = m_buffer.find("\r\n\r\n")) == std::string::npos) {
            if (!fill())
                return false;
        }
        const std::string head = m_buffer.substr(0, end + 2);
        m_buffer.erase(0, end + 4);
        response->status = head.size() > 12 ? std::atoi(head.c_str() + 9) : 0;
        response->location.clear();
        size_t length = 0;
        bool close = head.rfind("HTTP/1.0", 0) == 0;
        size_t at = head.find("\r\n");
        while (at != std::string::npos && at + 2 < head.size()) {
            const size_t next = head.find("\r\n", at + 2);
            std::string line = head.substr(at + 2, next - at - 2);
            std::string lower = line;
            std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
            if (lower.rfind("content-length:", 0) == 0)
                length = size_t(std::atoll(line.c_str() + 15));
            else if (lower.rfind("location:", 0) == 0)
                response->location = line.substr(line.find_first_not_of(' ', 9));
            else if (lower.rfind("connection:", 0) == 0 && lower.find("close") != std::string::npos)
                close = true;
            at = next;
        }
        response->body.clear();
        if (length > 64 * 1024) {
            if (!skip(length))
                return false;
        } else {
            while (m_buffer.size() < length) {
                if (!fill())
                    return false;
            }
            response->body = m_buffer.substr(0, length);
            m_buffer.erase(0, length);
        }
        if (close)
            drop();
        return true;
    }

    int m_port;
    int m_fd = -1;
    std::string m_buffer;
};

std::string firstHref(const std::string &page)
{
    const size_t at = page.find("href=\"");
    if (at == std::string::npos)
        return {};
    const size_t end = page.find('"', at + 6);
    return page.substr(at + 6, end - at - 6);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 6 && !(argc == 7 && std::string(argv[1]) == "update")) {
        std::fprintf(stderr,
                     "usage: %s update|static PORT SECONDS CLIENTS CIRCULARS|LISTFILE [SETS]\n",
                     argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const int port = std::atoi(argv[2]);
    const int seconds = std::atoi(argv[3]);
    const int clients = std::atoi(argv[4]);
    const int circulars = mode == "update" ? std::atoi(argv[5]) : 0;
    const unsigned sets = argc == 7 ? unsigned(std::max(1, std::atoi(argv[6]))) : 0;
    std::vector<std::string> files;
    if (mode == "static") {
        std::ifstream list(argv[5]);
        for (std::string line; std::getline(list, line);)
            if (!line.empty())
                files.push_back(line);
        if (files.empty())
            return 2;
    }

    std::atomic<long> errors{0};
    std::mutex mutex;
    std::vector<double> latencies;
    std::vector<double> byStep[3]; // request, answer page, package (update mode)
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    const auto started = Clock::now();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            std::mt19937 random(unsigned(c) * 7919u + 17u);
            Connection connection(port);
            std::vector<double> mine;
            std::vector<double> mineByStep[3];
            Response response;
            int step = 0;
            auto timed = [&](const std::string &target, int expected) {
                const auto t0 = Clock::now();
                const bool ok = connection.get(target, &response);
                const double ms =
                    std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
                mine.push_back(ms);
                mineByStep[step % 3].push_back(ms);
                ++step;
                if (!ok || response.status != expected) {
                    ++errors;
                    return false;
                }
                return true;
            };
            while (Clock::now() < deadline) {
                if (mode == "static") {
                    timed(files[random() % files.size()], 200);
                    continue;
                }
                // A set of its own, or one of the shared ones (the same for every client).
                std::optional<std::mt19937> shared;
                if (sets > 0)
                    shared.emplace(unsigned(random() % sets));
                std::mt19937 &draw = shared ? *shared : random;
                std::vector<int> set;
                const int size = 1 + int(draw() % 20);
                for (int k = 0; k < size; ++k)
                    set.push_back(1 + int(draw() % unsigned(circulars)));
                step = 0;
                std::string query;
                for (const int n : set)
                    query += (query.empty() ? "" : ",") + std::to_string(n);
                if (!timed("/Normativa/archivoValores.asp?Numeros=" + query, 303))
                    continue;
                if (!timed("/Normativa/" + response.location, 200))
                    continue;
                const std::string link = firstHref(response.body);
                if (link.empty()) {
                    ++errors;
                    continue;
                }
                timed("/Normativa/" + link, 200);
            }
            const std::lock_guard<std::mutex> lock(mutex);
            latencies.insert(latencies.end(), mine.begin(), mine.end());
            for (int k = 0; k < 3; ++k)
                byStep[k].insert(byStep[k].end(), mineByStep[k].begin(), mineByStep[k].end());
        });
    }
    for (auto &thread : threads)
        thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    std::sort(latencies.begin(), latencies.end());
    auto percentile = [&](double p) {
        return latencies.empty() ? 0.0 : latencies[size_t(p * double(latencies.size() - 1))];
    };
    std::printf("requests %zu  per-second %.0f  p50 %.1f ms  p99 %.1f ms  errors %ld\n",
                latencies.size(), double(latencies.size()) / elapsed, percentile(0.5),
                percentile(0.99), errors.load());
    if (mode == "update") {
        // Packages fetched whole: what a static server's requests compare with.
        std::printf("packages %zu\n", byStep[2].size());
        const char *names[3] = {"request page", "answer page", "package"};
        for (int k = 0; k < 3; ++k) {
            auto &v = byStep[k];
            std::sort(v.begin(), v.end());
            if (!v.empty())
                std::printf("  %-12s  p50 %.1f ms  p99 %.1f ms\n", names[k],
                            v[size_t(0.5 * double(v.size() - 1))],
                            v[size_t(0.99 * double(v.size() - 1))]);
        }
    }
    return 0;
}
