// The viewer's HTTP server over Boost.Beast: one event-loop thread for every
// connection, a small pool for the handlers, limits on every request.
#include "view/Http.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <deque>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

namespace orvex::cli {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// How often the deadlines are checked: a late client is closed at most this
// much after its time is up.
constexpr std::chrono::milliseconds kSweepPeriod(250);

// What the system may hold of a stream's parts for its client (it doubles
// the figure): a few live images, so that a client that reads slowly is
// sent a recent image when it drains, not one queued seconds before, and a
// client that reads nothing meets the answer's time limit soon.
constexpr int kStreamSendBuffer = 128 * 1024;

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string jsonError(const std::string& message)
{
    // Messages here are the server's own, without quotes or escapes.
    return "{\"error\":\"" + message + "\"}";
}

// The status and message for a request the parser refused.
std::pair<http::status, std::string> refusalOf(const beast::error_code& error)
{
    if (error == http::error::body_limit)
        return {http::status::payload_too_large, "request body too large"};
    if (error == http::error::header_limit)
        return {http::status::request_header_fields_too_large, "request header too large"};
    return {http::status::bad_request, "malformed request"};
}

// Errors that end a connection without an answer: the client left, was too
// slow, or the server stops.
bool isDisconnect(const beast::error_code& error)
{
    return error == http::error::end_of_stream || error == beast::error::timeout ||
           error == net::error::operation_aborted || error == net::error::connection_reset ||
           error == net::error::eof || error == net::error::broken_pipe ||
           error == net::error::bad_descriptor;
}

} // namespace

std::string HttpRequest::param(const std::string& name) const
{
    const auto found = params.find(name);
    return found != params.end() ? found->second : std::string();
}

bool decodeFormField(const std::string& text, std::string& decoded)
{
    decoded.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            decoded += ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size())
                return false;
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            decoded += c;
        }
    }
    return true;
}

bool parseFormFields(const std::string& text, std::multimap<std::string, std::string>& params)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string field = text.substr(start, end - start);
        if (!field.empty()) {
            const std::size_t equals = field.find('=');
            std::string name, value;
            if (!decodeFormField(field.substr(0, equals), name) ||
                (equals != std::string::npos && !decodeFormField(field.substr(equals + 1), value)))
                return false;
            params.emplace(std::move(name), std::move(value));
        }
        start = end + 1;
    }
    return true;
}

struct HttpServer::Impl {
    class Connection;

    explicit Impl(const HttpLimits& serverLimits) : limits(serverLimits), pool(serverLimits.workers) {}

    // Counts a new connection from `client`: false when the server is full,
    // or when the client is at its limit and has no connection waiting for a
    // request that could make room.
    bool admit(const std::string& client);
    void release(const std::string& client)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        --total;
        if (--perClient[client] == 0)
            perClient.erase(client);
    }
    unsigned connectionsOf(const std::string& client)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const auto found = perClient.find(client);
        return found != perClient.end() ? found->second : 0;
    }

    void accept();
    // Closes the connections past their deadline; runs while any is open.
    void sweepLater();
    void sweep();
    // Drops the connections that ended from `open`.
    void forgetClosed();

    const HttpLimits limits;
    // Before the loop: connections left in the loop's queue at the end count
    // themselves out as it goes.
    std::mutex mutex;
    std::map<std::string, unsigned> perClient;
    unsigned total = 0;
    net::io_context io;
    tcp::acceptor acceptor{io};
    net::thread_pool pool;
    HttpHandler handler;
    QuickHandler quick;
    std::thread loop;
    // Event-loop thread only: the connections in the order they came, to
    // make room for a client's new one, to close the late ones and to close
    // them all on the way out.
    std::deque<std::weak_ptr<Connection>> open;
    // One timer for every connection's deadline, rather than one per
    // connection re-armed twice per request: two system calls less per
    // answer, for deadlines kept to within a sweep's period.
    net::steady_timer sweeper{io};
    bool sweeping = false;
    bool running = false;
};

class HttpServer::Impl::Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(Impl& server, tcp::socket socket, std::string client)
        : _server(server), _socket(std::move(socket)), _client(std::move(client))
    {
    }
    ~Connection() { close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    const std::string& client() const { return _client; }
    // Event-loop thread: whether it waits for a request (idle, or one that
    // trickles in), rather than for its handler or its answer's sending.
    bool awaitsRequest() const { return _awaiting && _counted; }
    // Event-loop thread: whether the request or answer under way is late.
    bool pastDeadline(Clock::time_point now) const
    {
        return now.time_since_epoch().count() >= _deadline.load();
    }

    void readRequest()
    {
        _awaiting = true;
        _parser.emplace();
        _parser->header_limit(static_cast<std::uint32_t>(_server.limits.headerBytes));
        _parser->body_limit(_server.limits.bodyBytes);
        // One deadline for the whole request, however its bytes trickle in,
        // and for an idle connection's wait for the next one.
        setDeadline(Clock::now() + _server.limits.requestTime);
        if (_buffer.size() != 0) {
            // A request sent before the last answer went out: read on the
            // next turn of the loop, so that a client's pipelined requests
            // do not nest calls without end.
            net::post(_socket.get_executor(), [self = shared_from_this()] { self->readAvailable(); });
            return;
        }
        awaitBytes();
    }

    // Also counts the connection out, once.
    void close() noexcept
    {
        if (!_counted.exchange(false))
            return;
        _server.release(_client);
        if (_parts != nullptr)
            _parts->stop();
        // No part is being sent on the descriptor as it closes.
        const std::lock_guard<std::mutex> sending(_sendMutex);
        beast::error_code ignored;
        _socket.shutdown(tcp::socket::shutdown_both, ignored);
        _socket.close(ignored);
    }

private:
    // Reads and writes on the event loop go as far as the socket takes them
    // at once, and only then wait for it: an operation that asio completes
    // at once still costs a turn of its loop, and a poll of every socket.
    // Per answer: one wait, one read, one write.
    void awaitBytes()
    {
        _socket.async_wait(tcp::socket::wait_read, [self = shared_from_this()](beast::error_code error) {
            if (error)
                self->onRead(error);
            else
                self->readAvailable();
        });
    }

    // Sockets read and written here must never block the loop. Set once:
    // asio keeps the mode and asks the system again at each call.
    beast::error_code nonBlocking()
    {
        beast::error_code error;
        if (!_socket.non_blocking())
            _socket.non_blocking(true, error);
        return error;
    }

    // What the client sent so far, up to a whole request; waits for more
    // when that is not yet all of it.
    void readAvailable()
    {
        if (!_counted)
            return; // closed meanwhile: nothing more to read
        beast::error_code error = nonBlocking();
        if (!error)
            http::read(_socket, _buffer, *_parser, error);
        if (error == net::error::would_block || error == net::error::try_again) {
            awaitBytes();
            return;
        }
        onRead(error);
    }

    void onRead(const beast::error_code& error)
    {
        _awaiting = false;
        if (error) {
            if (isDisconnect(error)) {
                close();
                return;
            }
            const auto [status, message] = refusalOf(error);
            HttpResponse refusal;
            refusal.status = static_cast<int>(status);
            refusal.contentType = "application/json";
            refusal.body = jsonError(message);
            write(std::move(refusal), false, false);
            return;
        }
        http::request<http::string_body> message = _parser->release();
        HttpRequest request;
        std::optional<HttpResponse> refusal = readRequestOf(message, request);
        const bool keepAlive = message.keep_alive() && !refusal;
        const bool head = message.method() == http::verb::head;
        if (refusal) {
            write(std::move(*refusal), false, false);
            return;
        }
        if (_server.quick) {
            HttpResponse response;
            bool answered = false;
            try {
                answered = _server.quick(request, response);
            } catch (...) {
                answered = false; // the pool's handler tries again and answers
            }
            if (answered) {
                write(std::move(response), keepAlive, head);
                return;
            }
        }
        // The handler may wait for the main thread: off the event loop. The
        // connection reads nothing meanwhile, so a client cannot queue more.
        setDeadline(Clock::time_point::max());
        net::post(_server.pool, [self = shared_from_this(), request = std::move(request), keepAlive, head] {
            HttpResponse response;
            try {
                self->_server.handler(request, response);
            } catch (...) {
                response =
                    HttpResponse{500, "application/json", jsonError("internal error"), nullptr, {}, nullptr};
            }
            net::post(self->_socket.get_executor(),
                      [self, response = std::move(response), keepAlive, head]() mutable {
                          self->write(std::move(response), keepAlive, head);
                      });
        });
    }

    // Fills `request`; an answer when the request is refused before routing.
    static std::optional<HttpResponse> readRequestOf(const http::request<http::string_body>& message,
                                                     HttpRequest& request)
    {
        const auto refuse = [](const std::string& text) {
            return HttpResponse{400, "application/json", jsonError(text), nullptr, {}, nullptr};
        };
        if (message.count(http::field::host) != 1)
            return refuse("a request needs exactly one Host header");
        if (message.count(http::field::origin) > 1)
            return refuse("a request has at most one Origin header");
        request.method = message.method() == http::verb::head ? "GET" : std::string(message.method_string());
        request.host = std::string(message[http::field::host]);
        request.hasOrigin = message.count(http::field::origin) == 1;
        request.origin = std::string(message[http::field::origin]);
        const std::string target(message.target());
        const std::size_t query = target.find('?');
        request.path = target.substr(0, query);
        if (query != std::string::npos && !parseFormFields(target.substr(query + 1), request.params))
            return refuse("malformed query");
        const std::string type(message[http::field::content_type]);
        if (type.rfind("application/x-www-form-urlencoded", 0) == 0 &&
            !parseFormFields(message.body(), request.params))
            return refuse("malformed form");
        return std::nullopt;
    }

    void write(HttpResponse response, bool keepAlive, bool head)
    {
        if (response.parts != nullptr) {
            writeStreamHead(response, head);
            return;
        }
        // The body is sent from a string that lives until the write ends,
        // shared with other answers or not.
        std::shared_ptr<const std::string> body =
            response.sharedBody != nullptr ? std::move(response.sharedBody)
                                           : std::make_shared<const std::string>(std::move(response.body));
        auto message = std::make_shared<http::response<http::span_body<const char>>>(
            static_cast<http::status>(response.status), 11);
        message->set(http::field::server, "orvex");
        if (!response.contentType.empty())
            message->set(http::field::content_type, response.contentType);
        for (const auto& [name, value] : response.headers)
            message->set(name, value);
        message->body() = {body->data(), body->size()};
        message->prepare_payload();
        if (head)
            message->body() = {}; // the length stays the GET's
        message->keep_alive(keepAlive);
        setDeadline(Clock::now() + _server.limits.writeTime);
        auto serializer = std::make_shared<http::serializer<false, http::span_body<const char>>>(*message);
        beast::error_code error = nonBlocking();
        if (!error)
            http::write(_socket, *serializer, error);
        if (error == net::error::would_block || error == net::error::try_again) {
            // The rest when the client takes it (a large image, a slow client).
            http::async_write(_socket, *serializer,
                              [self = shared_from_this(), message, body, serializer, keepAlive](
                                  beast::error_code late, std::size_t) { self->written(late, keepAlive); });
            return;
        }
        written(error, keepAlive);
    }

    void written(const beast::error_code& error, bool keepAlive)
    {
        if (error || !keepAlive) {
            close();
            return;
        }
        readRequest();
    }

    // --- an answer in parts --------------------------------------------

    void setDeadline(Clock::time_point when) { _deadline.store(when.time_since_epoch().count()); }

    // The head of an answer in parts: no length, the parts run until the
    // connection closes. A HEAD gets the head alone.
    void writeStreamHead(HttpResponse& response, bool head)
    {
        http::response<http::empty_body> message(static_cast<http::status>(response.status), 11);
        message.set(http::field::server, "orvex");
        message.set(http::field::content_type, response.contentType);
        for (const auto& [name, value] : response.headers)
            message.set(name, value);
        message.keep_alive(false);
        std::ostringstream text;
        text << message.base();
        auto bytes = std::make_shared<const std::string>(text.str());
        beast::error_code ignored; // the system's own size otherwise
        _socket.set_option(net::socket_base::send_buffer_size(kStreamSendBuffer), ignored);
        if (head)
            response.parts->stop();
        else
            _parts = std::move(response.parts);
        setDeadline(Clock::now() + _server.limits.writeTime);
        net::async_write(_socket, net::buffer(*bytes),
                         [self = shared_from_this(), bytes](beast::error_code error, std::size_t) {
                             // Waiting for a part is no client's fault.
                             self->setDeadline(Clock::time_point::max());
                             if (error || self->_parts == nullptr)
                                 return self->close(); // the client left, or a HEAD's head went out
                             self->startParts();
                         });
    }

    void startParts()
    {
        watchForLeaving();
        // The wake holds no share of the connection, so that the source
        // never holds it alive; the ringing thread sends the part itself
        // when it can, which spares the event loop a wake per part.
        std::weak_ptr<Connection> weak = weak_from_this();
        _parts->start([weak] {
            if (const auto self = weak.lock())
                self->sendNewestPart();
        });
        sendNewestPart();
    }

    // What a part's sending leaves to the event loop.
    enum class After { nothing, close, rest };

    // Any thread: the newest part, unless one is still under way (the next
    // goes when it ends). What the socket takes at once is sent here; the
    // rest, and the end, are left to the event loop.
    void sendNewestPart()
    {
        After then = After::nothing;
        auto part = std::make_shared<HttpPartSource::Part>();
        std::size_t sent = 0;
        {
            const std::lock_guard<std::mutex> lock(_sendMutex);
            if (!_counted || _sending)
                return;
            switch (_parts->next(*part)) {
            case HttpPartSource::Turn::wait:
                return;
            case HttpPartSource::Turn::end:
                then = After::close;
                break;
            case HttpPartSource::Turn::part:
                then = sendAtOnce(*part, sent);
                break;
            }
            if (then == After::rest) {
                _sending = true;
                setDeadline(Clock::now() + _server.limits.writeTime);
            }
        }
        if (then == After::nothing)
            return;
        net::post(_socket.get_executor(), [self = shared_from_this(), part, sent, then] {
            if (then == After::close)
                self->close();
            else
                self->sendRest(part, sent);
        });
    }

    // Under the send lock: as much of the part as the socket takes without
    // waiting. `rest` when some is left, `close` when the client left.
    After sendAtOnce(const HttpPartSource::Part& part, std::size_t& sent)
    {
        std::array<iovec, 3> pieces{};
        pieces[0] = {const_cast<char*>(part.head.data()), part.head.size()};
        if (part.body != nullptr)
            pieces[1] = {const_cast<char*>(part.body->data()), part.body->size()};
        pieces[2] = {const_cast<char*>(part.tail.data()), part.tail.size()};
        const std::size_t total = pieces[0].iov_len + pieces[1].iov_len + pieces[2].iov_len;
        msghdr message{};
        message.msg_iov = pieces.data();
        message.msg_iovlen = pieces.size();
        const ssize_t done = ::sendmsg(_socket.native_handle(), &message, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (done < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return After::close;
            sent = 0;
            return After::rest;
        }
        sent = static_cast<std::size_t>(done);
        return sent == total ? After::nothing : After::rest;
    }

    // Event-loop thread: the rest of a part, when the client takes it.
    void sendRest(const std::shared_ptr<HttpPartSource::Part>& part, std::size_t sent)
    {
        const std::array<net::const_buffer, 3> buffers{
            net::buffer(part->head), part->body != nullptr ? net::buffer(*part->body) : net::const_buffer(),
            net::buffer(part->tail)};
        auto rest = std::make_shared<beast::buffers_suffix<std::array<net::const_buffer, 3>>>(buffers);
        rest->consume(sent);
        net::async_write(_socket, *rest,
                         [self = shared_from_this(), part, rest](beast::error_code error, std::size_t) {
                             {
                                 const std::lock_guard<std::mutex> lock(self->_sendMutex);
                                 self->_sending = false;
                                 self->setDeadline(Clock::time_point::max());
                             }
                             if (error)
                                 return self->close();
                             self->sendNewestPart();
                         });
    }

    // The client sends nothing more on a stream: what it sends is dropped,
    // and its leaving closes the stream at once rather than at the next
    // part, which may be long in coming (a stopped trigger).
    void watchForLeaving()
    {
        _socket.async_wait(tcp::socket::wait_read, [self = shared_from_this()](beast::error_code error) {
            if (!error && self->_counted) {
                std::array<char, 4096> dropped{};
                self->_socket.read_some(net::buffer(dropped), error);
                if (!error || error == net::error::would_block || error == net::error::try_again) {
                    self->watchForLeaving();
                    return;
                }
            }
            self->close();
        });
    }

    Impl& _server;
    tcp::socket _socket;
    // Set by the thread that sends a stream's part too.
    std::atomic<Clock::rep> _deadline{Clock::time_point::max().time_since_epoch().count()};
    std::string _client;
    beast::flat_buffer _buffer;
    std::optional<http::request_parser<http::string_body>> _parser;
    bool _awaiting = false;
    std::atomic<bool> _counted{true};
    // An answer in parts, once its head is out. Its parts are sent by the
    // thread that rings its wake, or by the event loop: under the lock, as
    // is the descriptor's closing.
    std::shared_ptr<HttpPartSource> _parts;
    std::mutex _sendMutex;
    bool _sending = false; // the rest of a part goes out on the event loop
};

bool HttpServer::Impl::admit(const std::string& client)
{
    if (connectionsOf(client) >= limits.connectionsPerClient) {
        // The client's oldest connection that waits for a request makes room:
        // a client cannot hold more, and its new request is still served.
        for (const auto& weak : open) {
            const auto connection = weak.lock();
            if (connection && connection->client() == client && connection->awaitsRequest()) {
                connection->close();
                break;
            }
        }
    }
    const std::lock_guard<std::mutex> lock(mutex);
    if (total >= limits.connections || perClient[client] >= limits.connectionsPerClient) {
        if (perClient[client] == 0)
            perClient.erase(client);
        return false;
    }
    ++perClient[client];
    ++total;
    return true;
}

void HttpServer::Impl::accept()
{
    acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (error == net::error::operation_aborted || !acceptor.is_open())
            return;
        if (!error) {
            beast::error_code ignored;
            const std::string client = socket.remote_endpoint(ignored).address().to_string();
            if (!ignored && admit(client)) {
                auto connection = std::make_shared<Connection>(*this, std::move(socket), client);
                forgetClosed();
                open.push_back(connection);
                connection->readRequest();
                sweepLater();
            } else {
                socket.close(ignored);
            }
        }
        // Out of descriptors or another passing error: keep accepting.
        accept();
    });
}

void HttpServer::Impl::forgetClosed()
{
    open.erase(std::remove_if(open.begin(), open.end(),
                              [](const std::weak_ptr<Connection>& weak) { return weak.expired(); }),
               open.end());
}

void HttpServer::Impl::sweepLater()
{
    if (sweeping)
        return;
    sweeping = true;
    sweeper.expires_after(kSweepPeriod);
    sweeper.async_wait([this](const beast::error_code& error) {
        sweeping = false;
        if (!error)
            sweep();
    });
}

void HttpServer::Impl::sweep()
{
    const Clock::time_point now = Clock::now();
    for (const auto& weak : open) {
        const auto connection = weak.lock();
        if (connection && connection->pastDeadline(now))
            connection->close(); // its pending read or write ends, and with it the connection
    }
    forgetClosed();
    if (!open.empty() && acceptor.is_open())
        sweepLater();
}

HttpServer::HttpServer(const HttpLimits& limits) : _impl(std::make_unique<Impl>(limits)) {}

HttpServer::~HttpServer()
{
    stop();
}

std::pair<std::string, unsigned short> HttpServer::listen(const std::string& address, unsigned short port)
{
    const std::string where = address + ":" + std::to_string(port);
    beast::error_code error;
    tcp::resolver resolver(_impl->io);
    const auto found = resolver.resolve(address, std::to_string(port),
                                        tcp::resolver::passive | tcp::resolver::numeric_service, error);
    if (error || found.empty())
        throw ListenError("cannot listen on " + where + ": no such address");
    const tcp::endpoint endpoint = found.begin()->endpoint();
    tcp::acceptor& acceptor = _impl->acceptor;
    acceptor.open(endpoint.protocol(), error);
    // Reusing an address lets a restarted viewer bind over connections still
    // closing; it does not let two listeners share a port (no SO_REUSEPORT).
    if (!error)
        acceptor.set_option(net::socket_base::reuse_address(true), error);
    if (!error)
        acceptor.bind(endpoint, error);
    if (!error)
        acceptor.listen(net::socket_base::max_listen_connections, error);
    if (error) {
        beast::error_code ignored;
        acceptor.close(ignored);
        if (error == net::error::address_in_use)
            throw ListenError("cannot listen on " + where + ": address in use");
        throw ListenError("cannot listen on " + where + ": " + error.message());
    }
    const tcp::endpoint bound = acceptor.local_endpoint(error);
    return {bound.address().to_string(), bound.port()};
}

void HttpServer::start(HttpHandler handler, QuickHandler quick)
{
    _impl->handler = std::move(handler);
    _impl->quick = std::move(quick);
    _impl->running = true;
    _impl->accept();
    _impl->loop = std::thread([this] { _impl->io.run(); });
}

void HttpServer::stop() noexcept
{
    if (!_impl->running)
        return;
    _impl->running = false;
    Impl& impl = *_impl;
    net::post(impl.io, [&impl] {
        beast::error_code ignored;
        impl.acceptor.close(ignored);
        for (const auto& weak : impl.open) {
            if (const auto connection = weak.lock())
                connection->close();
        }
        impl.open.clear();
        impl.io.stop();
    });
    impl.loop.join();
    // Handlers still running finish; their answers are dropped with the loop.
    impl.pool.join();
}

} // namespace orvex::cli
