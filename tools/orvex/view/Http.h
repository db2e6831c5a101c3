// The viewer's HTTP server: one event-loop thread reads and writes every
// connection (Boost.Beast), so that silent or slow clients cost a socket,
// never a thread; a small pool runs the handler, which may wait for
// the main thread. Every request must arrive whole within a time limit,
// whatever its pace, and a client has a bounded number of connections.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace orvex::cli {

struct HttpRequest {
    std::string method; // "GET", "POST" ...; a HEAD comes as "GET"
    std::string path;   // as sent, without the query; not decoded
    // The query's fields and, for a form body, the body's; decoded.
    std::multimap<std::string, std::string> params;
    std::string host; // the Host header
    bool hasOrigin = false;
    std::string origin; // the Origin header when there is one

    std::size_t paramCount(const std::string& name) const { return params.count(name); }
    // The first value of `name`; empty when there is none.
    std::string param(const std::string& name) const;
};

// The source of an answer sent in parts as they come (a live stream),
// until it ends or the client leaves. The server sends a part only once
// the client took the previous one, and asks for the newest then: a slow
// client skips parts, and nothing queues up for it.
class HttpPartSource {
public:
    virtual ~HttpPartSource() = default;
    struct Part {
        std::string head; // before the body
        std::shared_ptr<const std::string> body;
        std::string tail; // after it
    };
    enum class Turn { part, wait, end };
    // Event-loop thread, once, before any `next`: `wake` (any thread, any
    // number of times, until `stop`) tells that `next` may have a new part.
    // The ringing thread may send the part itself, at once.
    virtual void start(std::function<void()> wake) = 0;
    // The event loop or a thread ringing `wake`, one at a time: the newest
    // part not sent yet, or none for now, or the end of the answer.
    virtual Turn next(Part& part) = 0;
    // Any thread, once: the answer ended (its end, the client left, the
    // server stops); `wake` is not called after it returns.
    virtual void stop() noexcept = 0;
};

struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    // Sent instead of `body` when set: bytes shared by many answers (an
    // encoded frame), sent from where they are rather than copied.
    std::shared_ptr<const std::string> sharedBody;
    std::vector<std::pair<std::string, std::string>> headers;
    // Set for an answer in parts: its head (status, type, headers) goes out
    // first, then the parts; the connection closes at its end.
    std::shared_ptr<HttpPartSource> parts;
};

// Any thread of the pool; must not throw (a throw is answered 500).
using HttpHandler = std::function<void(const HttpRequest&, HttpResponse&)>;
// The event-loop thread, before the pool: answers at once what it can
// without waiting for anything (true), or leaves the request to the pool's
// handler (false). Two hand-offs between threads less per answer.
using QuickHandler = std::function<bool(const HttpRequest&, HttpResponse&)>;

struct HttpLimits {
    unsigned workers = 4;                // handlers run at once; the other requests wait, reading nothing
    std::size_t headerBytes = 8192;      // request line and headers
    std::size_t bodyBytes = 4096;        // a request's body
    std::chrono::seconds requestTime{5}; // to receive a whole request, or to wait idle for the next
    std::chrono::seconds writeTime{10};  // to send an answer, or one part of it
    unsigned connectionsPerClient = 64;  // from one address at once (a browser opens about 6); the
                                         // oldest waiting one makes room for a new one
    unsigned connections = 512;          // in all
};

// Thrown by listen with what the user is told.
class ListenError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class HttpServer {
public:
    explicit HttpServer(const HttpLimits& limits);
    // Stops the server if it runs.
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds `address` (a numeric address or a name) and `port` (0: any free
    // one) without sharing the port with another listener. Returns the bound
    // address and port. Throws ListenError.
    std::pair<std::string, unsigned short> listen(const std::string& address, unsigned short port);
    // Serves with `handler` on the server's threads, and `quick` (if any)
    // first on the event loop.
    void start(HttpHandler handler, QuickHandler quick = nullptr);
    // Closes the listener and every connection at once, lets the handlers
    // that run finish, joins the threads.
    void stop() noexcept;

private:
    struct Impl;
    std::unique_ptr<Impl> _impl;
};

// Decodes %XX and '+' of a query or form field; false on a malformed escape.
bool decodeFormField(const std::string& text, std::string& decoded);

// Reads "a=1&b=2" into `params`; false when a field does not decode.
bool parseFormFields(const std::string& text, std::multimap<std::string, std::string>& params);

} // namespace orvex::cli
