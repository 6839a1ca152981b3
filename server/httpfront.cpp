#include "httpfront.h"

#include "openread.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <future>
#include <list>
#include <optional>
#include <thread>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// After an answer that closes the connection, what the client still sends is read and
// dropped for this long (or up to this many bytes), so that the answer reaches it rather
// than a reset; then the connection is closed whatever the client does.
constexpr std::chrono::milliseconds lingerTime{1000};
constexpr std::size_t lingerBytes = 256 * 1024;
// The most bytes one call to sendfile is asked for, so that one large file does not hold
// the network thread while the socket takes it.
constexpr std::size_t sendfileChunk = 1024 * 1024;

const char *reasonText(int status)
{
    switch (status) {
    case 400:
        return "Solicitud incorrecta";
    case 408:
        return "Tiempo de espera agotado";
    case 413:
        return "Solicitud con contenido";
    case 414:
        return "Dirección demasiado larga";
    case 431:
        return "Cabeceras demasiado grandes";
    default:
        return "Error";
    }
}

// The status line and header fields of an answer, as Beast writes them.
std::string headerText(const http::response_header<> &header)
{
    std::string text;
    text.reserve(256);
    const unsigned version = header.version();
    text += "HTTP/";
    text += char('0' + version / 10);
    text += '.';
    text += char('0' + version % 10);
    text += ' ';
    text += std::to_string(header.result_int());
    text += ' ';
    const beast::string_view reason = header.reason();
    text.append(reason.data(), reason.size());
    text += "\r\n";
    for (const auto &field : header) {
        const beast::string_view name = field.name_string();
        const beast::string_view value = field.value();
        text.append(name.data(), name.size());
        text += ": ";
        text.append(value.data(), value.size());
        text += "\r\n";
    }
    text += "\r\n";
    return text;
}

// The small page of the errors found before a request reaches the handler.
std::string protocolErrorPage(int status)
{
    std::string message;
    switch (status) {
    case 413:
        message = "El servidor de actualizaciones solo admite solicitudes GET y HEAD, sin "
                  "contenido.";
        break;
    case 414:
        message = "La dirección solicitada es demasiado larga. Solicite las circulares en "
                  "varias veces.";
        break;
    case 431:
        message = "Las cabeceras de la solicitud son demasiado grandes.";
        break;
    default:
        message = "La solicitud no se ajusta al protocolo HTTP.";
        break;
    }
    const std::string title = reasonText(status);
    return "<!DOCTYPE html>\n<html lang=\"es\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
           title + "</title>\n</head>\n<body>\n<h1>" + title + "</h1>\n<p>" + message +
           "</p>\n<p>Código de respuesta: " + std::to_string(status) + ".</p>\n</body>\n</html>\n";
}

} // namespace

class Session;

class HttpFront::Impl {
public:
    Impl(Handler handler, Logger logger, HttpLimits limits)
        : handler(std::move(handler))
        , logger(std::move(logger))
        , limits(limits)
        , pool(std::size_t(limits.workers > 0
                               ? limits.workers
                               : std::max(4, 2 * int(std::thread::hardware_concurrency()))))
        , acceptor(io)
        , retryTimer(io)
    {
    }

    void accept();
    // Makes room for one more connection: false when every open connection is busy.
    bool makeRoom();

    Handler handler;
    Logger logger;
    HttpLimits limits;
    int connectionLimit = 0;
    bool stopping = false; // no longer accepting (network thread only)
    std::atomic<int> open{0};
    // Connections waiting for a request, the longest-waiting first (network thread only).
    // Declared before the context and the pool, whose destruction ends the sessions.
    std::list<std::weak_ptr<Session>> waiting;

    asio::io_context io;
    asio::thread_pool pool;
    tcp::acceptor acceptor;
    asio::steady_timer retryTimer;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    std::thread thread;
};

// One connection: reads a request, hands it to the workers, writes the answer, and waits
// for the next request or closes.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(HttpFront::Impl &front, tcp::socket socket)
        : m_front(front)
        , m_stream(std::move(socket))
        , m_buffer(front.limits.maxRequestLine + front.limits.maxHeaderFields + 1024)
        , m_sendTimer(front.io)
    {
        ++m_front.open;
        beast::error_code ec;
        const tcp::endpoint remote = m_stream.socket().remote_endpoint(ec);
        if (!ec) {
            asio::ip::address address = remote.address();
            if (address.is_v6() && address.to_v6().is_v4_mapped())
                address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
            m_peer = address.to_string();
        }
    }

    ~Session() { close(); }

    void start()
    {
        // The answers in pieces are sent by hand, as far as the socket takes them.
        beast::error_code ec;
        m_stream.socket().native_non_blocking(true, ec);
        readRequest(false);
    }

    void close()
    {
        if (m_closed)
            return;
        m_closed = true;
        release();
        m_sendTimer.cancel();
        stopWaiting();
        beast::error_code ec;
        m_stream.socket().shutdown(tcp::socket::shutdown_both, ec);
        m_stream.socket().close(ec);
        --m_front.open;
    }

    bool isClosed() const { return m_closed; }
    // Waiting for a request of which nothing has come: kept alive after an answer, or just
    // connected, with no byte received or waiting in the socket.
    bool awaitsRequest()
    {
        // A request begun shows in the buffer, or, should the parser have taken what it read
        // out of it, in the parser.
        if (m_closed || !m_isWaiting || m_buffer.size() > 0 || (m_parser && m_parser->got_some()))
            return false;
        beast::error_code ec;
        const std::size_t pending = m_stream.socket().available(ec);
        return !ec && pending == 0;
    }

private:
    void startWaiting()
    {
        m_waiting = m_front.waiting.insert(m_front.waiting.end(), weak_from_this());
        m_isWaiting = true;
    }

    void stopWaiting()
    {
        if (m_isWaiting) {
            m_front.waiting.erase(m_waiting);
            m_isWaiting = false;
        }
    }

    void readRequest(bool afterAnswer)
    {
        m_parser.emplace();
        m_parser->header_limit(
            std::uint32_t(m_front.limits.maxRequestLine + m_front.limits.maxHeaderFields));
        startWaiting();
        if (afterAnswer && m_buffer.size() == 0) {
            // Kept alive: wait for the first byte of the next request.
            m_stream.expires_after(m_front.limits.idleTimeout);
            auto self = shared_from_this();
            m_stream.async_read_some(
                m_buffer.prepare(std::min<std::size_t>(4096, m_buffer.max_size())),
                [self](beast::error_code ec, std::size_t read) {
                    if (self->m_closed)
                        return;
                    if (ec)
                        return self->close();
                    self->m_buffer.commit(read);
                    self->readHeader();
                });
            return;
        }
        readHeader();
    }

    void readHeader()
    {
        m_stream.expires_after(m_front.limits.requestTimeout);
        auto self = shared_from_this();
        http::async_read_header(m_stream, m_buffer, *m_parser,
                                [self](beast::error_code ec, std::size_t read) {
                                    if (!self->m_closed)
                                        self->onHeader(ec, read);
                                });
    }

    void onHeader(beast::error_code ec, std::size_t read)
    {
        stopWaiting();
        m_started = Clock::now();
        if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
            // The parser takes the request line off the buffer once it has it whole; until
            // then the buffer starts with it.
            const auto data = m_buffer.cdata();
            const std::string_view seen(static_cast<const char *>(data.data()), data.size());
            const std::size_t lineEnd = seen.find('\n');
            const bool lineTooLong = read == 0 && (lineEnd == std::string_view::npos ||
                                                   lineEnd > m_front.limits.maxRequestLine);
            return refuse(lineTooLong ? 414 : 431);
        }
        if (ec == http::error::body_limit)
            return refuse(413);
        if (ec == http::error::end_of_stream)
            return close(); // the client is done
        if (ec && ec.category() == http::make_error_code(http::error::bad_target).category())
            return refuse(400);
        if (ec)
            return close(); // too slow, or a network error

        const auto &request = m_parser->get();
        const std::size_t lineLength =
            request.method_string().size() + request.target().size() + sizeof(" HTTP/1.1\r\n");
        if (request.target().size() > m_front.limits.maxRequestLine)
            return refuse(414);
        if (read > lineLength && read - lineLength > m_front.limits.maxHeaderFields)
            return refuse(431);
        // GET and HEAD need no body: one announced is refused unread.
        if (m_parser->chunked() || request.count(http::field::transfer_encoding) > 0 ||
            (m_parser->content_length() && *m_parser->content_length() > 0))
            return refuse(413);

        m_request.method = std::string(request.method_string());
        m_request.target = std::string(request.target());
        m_request.peer = m_peer;
        m_keepAlive = request.keep_alive();
        m_version = request.version();
        m_head = request.method() == http::verb::head;

        // Most answers are made at once from what the handler has at hand, without the
        // two thread switches a worker costs; the others go to a worker.
        m_request.onWorker = false;
        HttpAnswer quick;
        try {
            quick = m_front.handler(m_request);
        } catch (...) {
            quick.status = 500;
            quick.body = protocolErrorPage(500);
        }
        if (!quick.onWorker)
            return reply(std::move(quick));
        m_request.onWorker = true;
        auto self = shared_from_this();
        asio::post(m_front.pool, [self] {
            HttpAnswer answer;
            try {
                answer = self->m_front.handler(self->m_request);
            } catch (...) {
                answer.status = 500;
                answer.body = protocolErrorPage(500);
            }
            answer.onWorker = false;
            asio::post(self->m_front.io, [self, answer = std::move(answer)]() mutable {
                if (!self->m_closed)
                    self->reply(std::move(answer));
                else
                    closeFiles(answer);
            });
        });
    }

    static void closeFiles(HttpAnswer &answer)
    {
        if (answer.file >= 0)
            ::close(answer.file);
        answer.file = -1;
        for (HttpPiece &piece : answer.pieces) {
            if (piece.file >= 0 && !piece.kept)
                ::close(piece.file);
            piece.file = -1;
        }
    }

    void release()
    {
        m_shared.reset();
        if (m_pieceFile >= 0 && !m_pieceFileKept)
            ::close(m_pieceFile);
        m_pieceFile = -1;
        m_pieceFileKept.reset();
        for (HttpPiece &piece : m_pieces) {
            if (piece.file >= 0 && !piece.kept)
                ::close(piece.file);
        }
        m_pieces.clear();
        m_piece = 0;
    }

    // Answers an error found before the handler, and closes.
    void refuse(int status)
    {
        m_request.method = m_parser && m_parser->is_header_done()
                               ? std::string(m_parser->get().method_string())
                               : std::string("-");
        m_request.target = m_parser && m_parser->is_header_done()
                               ? std::string(m_parser->get().target().substr(0, 200))
                               : std::string("-");
        m_request.peer = m_peer;
        m_keepAlive = false;
        m_version = 11;
        m_head = false;
        HttpAnswer answer;
        answer.status = status;
        answer.body = protocolErrorPage(status);
        answer.headers.emplace_back("Cache-Control", "no-store");
        reply(std::move(answer));
    }

    template <class Body> void prepare(http::response<Body> &response, const HttpAnswer &answer)
    {
        response.result(unsigned(answer.status));
        response.version(m_version);
        response.set(http::field::content_type, answer.type);
        for (const auto &header : answer.headers) {
            try {
                response.set(header.first, header.second);
            } catch (const std::exception &) {
                // A value beyond what a header may carry: left out rather than crash.
            }
        }
        response.keep_alive(m_keepAlive);
    }

    void reply(HttpAnswer answer)
    {
        // Stopping: the client is told that this answer is the connection's last.
        if (m_front.stopping)
            m_keepAlive = false;
        if (answer.file >= 0) {
            // A whole file: one piece, sent from the file.
            struct stat info {};
            HttpPiece piece;
            piece.file = answer.file;
            piece.size = ::fstat(answer.file, &info) == 0 ? std::uint64_t(info.st_size) : 0;
            answer.file = -1;
            answer.pieces.clear();
            answer.pieces.push_back(std::move(piece));
        }
        if (answer.pieces.empty() && !answer.shared && !m_head) {
            // A page: its header and body leave in one system call, as the pieces do.
            HttpPiece page;
            page.bytes = std::move(answer.body);
            answer.pieces.push_back(std::move(page));
        }
        if (!answer.pieces.empty()) {
            std::uint64_t size = 0;
            for (const HttpPiece &piece : answer.pieces)
                size += piece.path.empty() && piece.file < 0 ? piece.bytes.size() : piece.size;
            auto response = std::make_shared<http::response<http::empty_body>>();
            prepare(*response, answer);
            response->content_length(size);
            if (m_head) {
                closeFiles(answer);
                return send(response, answer.status);
            }
            // The header goes out with the first piece, all from here on.
            m_status = answer.status;
            m_bytes = size;
            m_pieces = std::move(answer.pieces);
            m_piece = 0;
            m_pieceOffset = 0;
            std::string header = headerText(response->base());
            if (m_pieces.front().path.empty() && m_pieces.front().file < 0) {
                header += m_pieces.front().bytes;
                m_pieces.front().bytes = std::move(header);
            } else {
                HttpPiece first;
                first.bytes = std::move(header);
                m_pieces.insert(m_pieces.begin(), std::move(first));
            }
            return startPieces();
        }
        if (answer.shared) {
            // Sent from the shared bytes, kept alive until the answer is out.
            m_shared = std::move(answer.shared);
            if (m_head) {
                auto response = std::make_shared<http::response<http::empty_body>>();
                prepare(*response, answer);
                response->content_length(m_shared->size());
                return send(response, answer.status);
            }
            auto response = std::make_shared<http::response<http::span_body<const char>>>();
            prepare(*response, answer);
            m_bytes = m_shared->size();
            response->body() =
                http::span_body<const char>::value_type(m_shared->data(), m_shared->size());
            response->prepare_payload();
            return send(response, answer.status);
        }
        // HEAD of a page (a page to send goes in pieces above).
        auto response = std::make_shared<http::response<http::empty_body>>();
        prepare(*response, answer);
        response->content_length(answer.body.size());
        send(response, answer.status);
    }

    template <class Body> void send(std::shared_ptr<http::response<Body>> response, int status)
    {
        m_status = status;
        auto serializer = std::make_shared<http::response_serializer<Body>>(*response);
        writeSome(std::move(response), std::move(serializer));
    }

    template <class Body>
    void writeSome(std::shared_ptr<http::response<Body>> response,
                   std::shared_ptr<http::response_serializer<Body>> serializer)
    {
        m_stream.expires_after(m_front.limits.sendTimeout);
        auto self = shared_from_this();
        http::async_write_some(m_stream, *serializer,
                               [self, response, serializer](beast::error_code ec, std::size_t) {
                                   if (self->m_closed)
                                       return;
                                   if (ec) {
                                       self->logAnswer();
                                       return self->close();
                                   }
                                   if (!serializer->is_done())
                                       return self->writeSome(response, serializer);
                                   self->finished();
                               });
    }

    void finished()
    {
        logAnswer();
        if (m_keepAlive && !m_front.stopping)
            return readRequest(true);
        linger();
    }

    // The answer in pieces, its header first. Every piece of bytes but the last is sent
    // with MSG_MORE, so that the small pieces between files wait for what follows and leave
    // in full segments; the end of each file and the last bytes go at once. (Corking the
    // socket for the answer instead costs more: two more system calls an answer, and
    // segments held back until the last.)
    void startPieces() { sendPiece(); }

    // Cuts the answer short: the connection closes before the body is whole, which the
    // client cannot take for a whole answer (its length was announced).
    void abortAnswer()
    {
        m_keepAlive = false;
        logAnswer();
        close();
    }

    // Sends the pieces, from m_piece at m_pieceOffset, as far as the socket takes them;
    // then waits for it to take more, or ends the answer.
    void sendPiece()
    {
        const int fd = m_stream.socket().native_handle();
        while (m_piece < m_pieces.size()) {
            HttpPiece &piece = m_pieces[m_piece];
            const bool fromFile = !piece.path.empty() || piece.file >= 0 || m_pieceFile >= 0;
            if (!fromFile) {
                while (m_pieceOffset < piece.bytes.size()) {
                    const bool last = m_piece + 1 == m_pieces.size();
                    const ssize_t sent = ::send(fd, piece.bytes.data() + m_pieceOffset,
                                                piece.bytes.size() - m_pieceOffset,
                                                MSG_NOSIGNAL | (last ? 0 : MSG_MORE));
                    if (sent > 0) {
                        m_pieceOffset += std::uint64_t(sent);
                    } else if (sent < 0 && errno == EINTR) {
                        continue;
                    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                        return awaitWritable();
                    } else {
                        return abortAnswer();
                    }
                }
            } else {
                if (m_pieceFile < 0) {
                    // Checked against the facts once sent, which covers a change before
                    // as well as during: either way the answer is cut short.
                    m_pieceFile = piece.file >= 0 ? piece.file : openToRead(piece.path.c_str());
                    m_pieceFileKept = piece.file >= 0 ? std::move(piece.kept) : nullptr;
                    piece.file = -1;
                    if (m_pieceFile < 0)
                        return abortAnswer();
                }
                while (m_pieceOffset < piece.size) {
                    off_t offset = off_t(m_pieceOffset);
                    const ssize_t sent =
                        ::sendfile(fd, m_pieceFile, &offset,
                                   std::size_t(std::min<std::uint64_t>(piece.size - m_pieceOffset,
                                                                       sendfileChunk)));
                    if (sent > 0) {
                        m_pieceOffset += std::uint64_t(sent);
                    } else if (sent < 0 && errno == EINTR) {
                        continue;
                    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                        return awaitWritable();
                    } else {
                        return abortAnswer(); // shorter than it was, or the socket failed
                    }
                }
                const bool same = !piece.unchanged || piece.unchanged(m_pieceFile);
                if (!m_pieceFileKept)
                    ::close(m_pieceFile);
                m_pieceFile = -1;
                m_pieceFileKept.reset();
                if (!same)
                    return abortAnswer();
            }
            ++m_piece;
            m_pieceOffset = 0;
        }
        m_pieces.clear();
        m_piece = 0;
        finished();
    }

    // The socket is full: wait until the client takes some, within the send timeout.
    void awaitWritable()
    {
        auto self = shared_from_this();
        m_sendTimer.expires_after(m_front.limits.sendTimeout);
        m_sendTimer.async_wait([self](beast::error_code ec) {
            if (!ec && !self->m_closed)
                self->abortAnswer();
        });
        m_stream.socket().async_wait(tcp::socket::wait_write, [self](beast::error_code ec) {
            self->m_sendTimer.cancel();
            if (self->m_closed)
                return;
            if (ec)
                return self->abortAnswer();
            self->sendPiece();
        });
    }

    void logAnswer()
    {
        release();
        if (!m_front.logger)
            return;
        HttpLogEntry entry;
        entry.peer = m_peer;
        entry.method = m_request.method;
        entry.target = m_request.target;
        entry.status = m_status;
        entry.bytes = m_head ? 0 : m_bytes;
        entry.milliseconds =
            std::chrono::duration<double, std::milli>(Clock::now() - m_started).count();
        m_front.logger(entry);
        m_bytes = 0;
    }

    // Closes the sending side, drops what the client still sends for a moment, then closes.
    void linger()
    {
        beast::error_code ec;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ec);
        m_lingerUntil = Clock::now() + lingerTime;
        m_lingered = 0;
        drain();
    }

    void drain()
    {
        const auto left = m_lingerUntil - Clock::now();
        if (left <= Clock::duration::zero() || m_lingered > lingerBytes)
            return close();
        m_stream.expires_after(left);
        auto self = shared_from_this();
        m_stream.async_read_some(asio::buffer(m_drain),
                                 [self](beast::error_code ec, std::size_t read) {
                                     if (self->m_closed)
                                         return;
                                     if (ec)
                                         return self->close();
                                     self->m_lingered += read;
                                     self->drain();
                                 });
    }

    HttpFront::Impl &m_front;
    beast::tcp_stream m_stream;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::empty_body>> m_parser;
    std::string m_peer;
    HttpRequest m_request;
    bool m_keepAlive = false;
    bool m_head = false;
    unsigned m_version = 11;
    int m_status = 0;
    std::uint64_t m_bytes = 0;
    std::vector<HttpPiece> m_pieces;             // the body being sent in pieces
    std::size_t m_piece = 0;                     // the piece being sent
    int m_pieceFile = -1;                        // its file, open
    std::shared_ptr<const void> m_pieceFileKept; // owns m_pieceFile when set
    std::uint64_t m_pieceOffset = 0;             // and how much of it is sent
    asio::steady_timer m_sendTimer;
    std::shared_ptr<const std::string> m_shared; // the body of the answer being sent
    Clock::time_point m_started = Clock::now();
    Clock::time_point m_lingerUntil;
    std::size_t m_lingered = 0;
    std::array<char, 4096> m_drain{};
    bool m_closed = false;
    bool m_isWaiting = false;
    std::list<std::weak_ptr<Session>>::iterator m_waiting;
};

bool HttpFront::Impl::makeRoom()
{
    if (open < connectionLimit)
        return true;
    // The oldest connection waiting with nothing of a request come makes room. One whose
    // request has begun, read or still in the socket, is under way and keeps its place,
    // however late the new connection was accepted.
    for (auto it = waiting.begin(); it != waiting.end();) {
        const std::shared_ptr<Session> session = it->lock();
        if (!session) {
            it = waiting.erase(it);
            continue;
        }
        if (session->awaitsRequest()) {
            session->close(); // takes itself off the list
            return true;
        }
        ++it;
    }
    return open < connectionLimit;
}

void HttpFront::Impl::accept()
{
    acceptor.async_accept(io, [this](beast::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted || !acceptor.is_open())
            return;
        if (ec) {
            // Out of descriptors or memory: try again shortly, when connections have gone.
            retryTimer.expires_after(std::chrono::milliseconds(50));
            retryTimer.async_wait([this](beast::error_code waitError) {
                if (!waitError)
                    accept();
            });
            return;
        }
        if (makeRoom()) {
            beast::error_code ignored;
            socket.set_option(tcp::no_delay(true), ignored);
            std::make_shared<Session>(*this, std::move(socket))->start();
        } else {
            beast::error_code ignored;
            socket.close(ignored);
        }
        accept();
    });
}

HttpFront::HttpFront(Handler handler, Logger logger, HttpLimits limits)
    : m_impl(std::make_unique<Impl>(std::move(handler), std::move(logger), limits))
{
}

HttpFront::~HttpFront()
{
    if (m_impl->thread.joinable()) {
        asio::post(m_impl->io, [impl = m_impl.get()] {
            beast::error_code ignored;
            impl->acceptor.close(ignored);
            impl->retryTimer.cancel();
        });
        m_impl->work.reset();
        m_impl->io.stop();
        m_impl->thread.join();
    }
    m_impl->pool.stop();
    m_impl->pool.join();
}

bool HttpFront::listen(const std::string &address, std::uint16_t port, std::string *error)
{
    beast::error_code ec;
    const asio::ip::address ip = asio::ip::make_address(address, ec);
    if (ec) {
        *error = "invalid address " + address;
        return false;
    }
    const tcp::endpoint endpoint(ip, port);
    tcp::acceptor &acceptor = m_impl->acceptor;
    acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
        acceptor.bind(endpoint, ec);
    if (!ec)
        acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        *error = ec.message();
        beast::error_code ignored;
        acceptor.close(ignored);
        return false;
    }

    m_impl->connectionLimit = connectionLimitFor(m_impl->limits.maxConnections);

    m_impl->work.emplace(m_impl->io.get_executor());
    m_impl->accept();
    m_impl->thread = std::thread([impl = m_impl.get()] { impl->io.run(); });
    return true;
}

void HttpFront::stopAccepting()
{
    if (!m_impl->thread.joinable())
        return;
    std::promise<void> done;
    std::future<void> closed = done.get_future();
    asio::post(m_impl->io, [impl = m_impl.get(), &done] {
        impl->stopping = true;
        beast::error_code ignored;
        impl->acceptor.close(ignored);
        impl->retryTimer.cancel();
        // Connections without a request in progress go now: a client whose kept-alive
        // connection closes opens a new one for its next request, to another server.
        for (auto it = impl->waiting.begin(); it != impl->waiting.end();) {
            const std::shared_ptr<Session> session = it->lock();
            ++it; // closing takes the session off the list
            if (session && session->awaitsRequest())
                session->close();
        }
        done.set_value();
    });
    closed.wait();
}

std::uint16_t HttpFront::port() const
{
    beast::error_code ec;
    const tcp::endpoint endpoint = m_impl->acceptor.local_endpoint(ec);
    return ec ? 0 : endpoint.port();
}

std::string HttpFront::address() const
{
    beast::error_code ec;
    const tcp::endpoint endpoint = m_impl->acceptor.local_endpoint(ec);
    return ec ? std::string() : endpoint.address().to_string();
}

int HttpFront::connectionLimitFor(int maxConnections)
{
    int limit = std::max(1, maxConnections);
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY)
        limit = int(std::min<long long>(
            limit, std::max<long long>(1, (long long)files.rlim_cur - reservedDescriptors)));
    return limit;
}

int HttpFront::connectionLimit() const
{
    return m_impl->connectionLimit;
}

int HttpFront::openConnections() const
{
    return m_impl->open;
}
