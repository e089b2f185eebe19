#pragma once
// The pages' HTTP server: read-only GET requests, answered on a thread of its
// own so that no client, however slow or hostile, can delay the program that
// serves them. The program hands it data only through its site's own
// bounded queue; the server asks the site for answers and for the stream's
// next chunk on its thread.
//
// Every request needs the token when one is set (?token= in the address or
// "Authorization: Bearer"); without a token, only requests addressed to a
// loopback name are answered (a page of another site cannot reach the
// server through a name it resolves to 127.0.0.1).
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

struct WebLimits {
    size_t maxConnections = 128;         // open at once; more are closed on arrival
    size_t maxRequestBytes = 8 * 1024;   // the request line and headers; a request has no body
    uint32_t requestTimeoutMs = 10000;   // to send a whole request (also between keep-alive requests)
    uint32_t writeTimeoutMs = 10000;     // for a client to take one answer or stream chunk
    size_t maxStreamBacklogBytes = 512 * 1024; // a stream's client that falls this far behind is dropped
    uint32_t tickMs = 100;               // how often the streams are fed (changes between are merged)
    size_t busyStreams = 8;              // beyond this many open streams ...
    uint32_t busyTickMs = 400;           // ... they are fed this often,
    uint32_t busyBarMs = 1000;           // ... and a change that only moves bars may wait this long
    uint32_t keepAliveMs = 15000;        // a comment on an idle stream, so a gone client is noticed
};

struct WebReply {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    // An event stream: body is its first chunk; later chunks come from Tick.
    bool stream = false;
};

using WebQuery = std::map<std::string, std::string>;

// What a server serves. Called on the server's thread only.
class WebSite {
public:
    virtual ~WebSite() = default;
    // The answer to GET path (query decoded, without the token).
    virtual WebReply Answer(const std::string& path, const WebQuery& query) = 0;
    // The chunk every open stream gets now ("" for none). Called after a
    // Wake (at most once a tick), when a stream opens, and when no chunk has
    // gone out for a while; never on a timer of its own while nothing happens.
    virtual std::string Tick() = 0;
};

class WebServer {
public:
    explicit WebServer(WebSite& site, WebLimits limits = {});
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Listens on address:port (port 0: one the system chooses) and starts the
    // server's thread; token "" lets requests in without one.
    bool Start(const std::string& address, uint16_t port, const std::string& token, std::string& error);
    uint16_t Port() const;
    // Closes every connection and ends the thread.
    void Stop();
    // The site has something for the streams: Tick is called soon, once for
    // any number of wakes in a tick. Any thread; never waits.
    void Wake();
    // Connections open now, streams among them (for tests and figures).
    size_t OpenConnections() const;
    size_t StreamsOpen() const;
    // Bytes handed to clients' streams and not yet taken by them.
    size_t PendingBytes() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// --- the pieces, pure ---

// "8080", "0.0.0.0:8080", "[::1]:8080": the address (127.0.0.1 when none is
// given) and the port; nothing when malformed.
struct ServeAddress {
    std::string address;
    uint16_t port = 0;
};
std::optional<ServeAddress> ParseServeAddress(const std::string& text);
// 127.0.0.0/8, ::1 and "localhost".
bool IsLoopbackAddress(const std::string& address);
// A token of 32 hexadecimal digits from the system's random source.
std::string MakeServeToken();
// Whether a token given with --serve-token is usable: 16 to 128 characters
// from letters, digits, '-', '_' and '.' (it travels in an address unescaped).
bool IsUsableToken(const std::string& token);
// The request target split into its path and its decoded query parameters;
// false when it is not an absolute path or holds a malformed escape.
bool SplitTarget(const std::string& target, std::string& path, WebQuery& query);
// Whether a Host header names the loopback ("127.0.0.1:8080", "localhost", "[::1]:80").
bool IsLoopbackHost(const std::string& host);
