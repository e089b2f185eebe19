#include "programs/vane_upgrade/http/web_server.h"

// Boost 1.74's Asio uses std::exchange without including <utility> under C++20.
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <list>
#include <random>
#include <thread>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr size_t kMaxTokenLength = 128;
constexpr size_t kMinTokenLength = 16;

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Decode(const std::string& text, std::string& decoded)
{
    decoded.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] == '%') {
            if (i + 2 >= text.size()) return false;
            const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
            if (high < 0 || low < 0) return false;
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return true;
}

// Compares without an early end, so the time taken tells nothing of the token.
bool SameToken(const std::string& given, const std::string& token)
{
    unsigned char difference = given.size() == token.size() ? 0 : 1;
    for (size_t i = 0; i < given.size(); ++i)
        difference |= static_cast<unsigned char>(given[i] ^ token[i % token.size()]);
    return difference == 0;
}

} // namespace

std::optional<ServeAddress> ParseServeAddress(const std::string& text)
{
    ServeAddress result{"127.0.0.1", 0};
    std::string portText = text;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find("]:");
        if (close == std::string::npos || close == 1) return std::nullopt;
        result.address = text.substr(1, close - 1);
        portText = text.substr(close + 2);
    } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
        if (colon == 0 || text.find(':') != colon) return std::nullopt;
        result.address = text.substr(0, colon);
        portText = text.substr(colon + 1);
    }
    if (portText.empty() || portText.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (char c : portText) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 65535) return std::nullopt;
    result.port = static_cast<uint16_t>(value);
    if (result.address != "localhost") {
        boost::system::error_code error;
        asio::ip::make_address(result.address, error);
        if (error) return std::nullopt;
    }
    return result;
}

bool IsLoopbackAddress(const std::string& address)
{
    if (address == "localhost") return true;
    boost::system::error_code error;
    const asio::ip::address parsed = asio::ip::make_address(address, error);
    return !error && parsed.is_loopback();
}

bool IsLoopbackHost(const std::string& host)
{
    std::string name = host;
    if (!name.empty() && name.front() == '[') {
        const size_t close = name.find(']');
        if (close == std::string::npos) return false;
        name = name.substr(1, close - 1);
    } else if (const size_t colon = name.rfind(':'); colon != std::string::npos) {
        name.erase(colon);
    }
    return IsLoopbackAddress(name);
}

std::string MakeServeToken()
{
    std::random_device random;
    std::string token;
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < 8; ++i) {
        const uint32_t value = random();
        for (int shift = 0; shift < 32; shift += 8) token += kDigits[(value >> shift) & 0xF];
    }
    return token;
}

bool IsUsableToken(const std::string& token)
{
    if (token.size() < kMinTokenLength || token.size() > kMaxTokenLength) return false;
    for (char c : token) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '_' || c == '.';
        if (!plain) return false;
    }
    return true;
}

bool SplitTarget(const std::string& target, std::string& path, WebQuery& query)
{
    query.clear();
    if (target.empty() || target.front() != '/') return false;
    const size_t mark = target.find('?');
    if (!Decode(target.substr(0, mark), path)) return false;
    if (path.find('\0') != std::string::npos) return false;
    if (mark == std::string::npos) return true;
    const std::string rest = target.substr(mark + 1);
    size_t start = 0;
    while (start <= rest.size()) {
        const size_t amp = rest.find('&', start);
        const std::string pair = rest.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
        if (!pair.empty()) {
            const size_t equals = pair.find('=');
            std::string name, value;
            if (!Decode(pair.substr(0, equals), name)) return false;
            if (equals != std::string::npos && !Decode(pair.substr(equals + 1), value)) return false;
            query[name] = value;
        }
        if (amp == std::string::npos) break;
        start = amp + 1;
    }
    return true;
}

namespace {

class Session;

} // namespace

struct WebServer::State {
    State(WebSite& s, WebLimits l) : site(s), limits(l), acceptor(io), ticker(io), acceptPause(io) {}

    using Clock = std::chrono::steady_clock;

    WebSite& site;
    const WebLimits limits;
    std::string token;
    std::atomic<size_t> connections{0};
    std::atomic<size_t> streams{0};
    std::atomic<size_t> pending{0};
    std::atomic<bool> wakePosted{false};
    // The open streams, kept alive here between their chunks (the server's thread only).
    std::list<std::shared_ptr<Session>> streaming;
    // Declared after what the sessions use: destroying the context ends them first.
    asio::io_context io;
    tcp::acceptor acceptor;
    asio::steady_timer ticker;
    asio::steady_timer acceptPause;
    // The ticker's next expiry (max: not waiting); a tick is wanted after a Wake.
    Clock::time_point tickDue = Clock::time_point::max();
    bool tickWanted = false;
    Clock::time_point lastTick = Clock::now() - std::chrono::hours(1);
    Clock::time_point lastChunk = Clock::now();
    std::thread thread;
    bool stopped = false;

    void Accept();
    void Schedule();
    void Tick();
};

namespace {

const char* StatusText(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(tcp::socket socket, WebServer::State& server)
        : stream_(std::move(socket)), buffer_(server.limits.maxRequestBytes), server_(server)
    {
        ++server_.connections;
    }
    ~Session()
    {
        --server_.connections;
        if (streaming_) --server_.streams;
    }

    void Read()
    {
        parser_.emplace();
        parser_->header_limit(static_cast<uint32_t>(server_.limits.maxRequestBytes));
        parser_->body_limit(0);
        stream_.expires_after(std::chrono::milliseconds(server_.limits.requestTimeoutMs));
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code error, size_t) { self->OnRead(error); });
    }

    // A chunk of the stream; a client that has fallen too far behind is dropped.
    void Send(const std::shared_ptr<const std::string>& chunk)
    {
        if (closed_) return;
        std::shared_ptr<const std::string> rest = chunk;
        if (!writing_ && streamingStarted_) {
            // A client that keeps up takes the chunk at once: one send, no
            // handler to run afterwards (fifty pages cost the station little).
            beast::error_code error;
            const size_t sent = stream_.socket().write_some(asio::buffer(*chunk), error);
            if (error && error != asio::error::would_block && error != asio::error::try_again) {
                Close();
                return;
            }
            if (sent == chunk->size()) return;
            rest = std::make_shared<const std::string>(chunk->substr(sent));
        }
        if (backlog_ + rest->size() > server_.limits.maxStreamBacklogBytes) {
            Close();
            return;
        }
        backlog_ += rest->size();
        server_.pending += rest->size();
        out_.push_back(rest);
        if (!writing_) WriteNext();
    }

    bool Closed() const { return closed_; }

private:
    void OnRead(beast::error_code error)
    {
        if (error == http::error::end_of_stream || error == beast::error::timeout || error == asio::error::eof ||
            error == asio::error::connection_reset || error == asio::error::operation_aborted) {
            Close();
            return;
        }
        if (error == http::error::header_limit || error == http::error::buffer_overflow) {
            Reply(431, "text/plain", "request too large\n", false);
            return;
        }
        if (error) {
            // A body, a malformed line: the request is refused and the connection ends.
            Reply(400, "text/plain", "bad request\n", false);
            return;
        }
        const auto& request = parser_->get();
        const bool keepAlive = request.keep_alive();
        if (request.method() != http::verb::get && request.method() != http::verb::head) {
            Reply(405, "text/plain", "only GET\n", false);
            return;
        }
        head_ = request.method() == http::verb::head;
        std::string path;
        WebQuery query;
        if (!SplitTarget(std::string(request.target()), path, query)) {
            Reply(400, "text/plain", "bad request\n", false);
            return;
        }
        if (!Allowed(request, query)) {
            Reply(401, "text/plain", "a token is needed\n", false, true);
            return;
        }
        query.erase("token");
        WebReply reply = server_.site.Answer(path, query);
        if (reply.stream && !head_) {
            StartStream(reply.body);
            return;
        }
        Reply(reply.status, reply.contentType, reply.body, keepAlive);
    }

    bool Allowed(const http::request<http::empty_body>& request, const WebQuery& query) const
    {
        const std::string& token = server_.token;
        if (token.empty()) return IsLoopbackHost(std::string(request[http::field::host]));
        if (const auto given = query.find("token"); given != query.end() && SameToken(given->second, token)) return true;
        const std::string authorization(request[http::field::authorization]);
        const std::string bearer = "Bearer ";
        return authorization.starts_with(bearer) && SameToken(authorization.substr(bearer.size()), token);
    }

    static void Secure(http::response<http::string_body>& response)
    {
        response.set(http::field::cache_control, "no-store");
        response.set("X-Content-Type-Options", "nosniff");
        response.set("Referrer-Policy", "no-referrer");
        response.set("X-Frame-Options", "DENY");
        response.set("Content-Security-Policy",
                     "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; connect-src 'self'; "
                     "img-src 'self' data:; frame-ancestors 'none'");
    }

    void Reply(int status, const std::string& contentType, const std::string& body, bool keepAlive,
               bool askToken = false)
    {
        auto response = std::make_shared<http::response<http::string_body>>();
        response->result(static_cast<unsigned>(status));
        response->reason(StatusText(status));
        response->set(http::field::content_type, contentType);
        if (askToken) response->set(http::field::www_authenticate, "Bearer");
        Secure(*response);
        response->keep_alive(keepAlive);
        response->body() = body;
        response->prepare_payload();
        if (head_) response->body().clear();
        stream_.expires_after(std::chrono::milliseconds(server_.limits.writeTimeoutMs));
        http::async_write(stream_, *response,
                          [self = shared_from_this(), response, keepAlive](beast::error_code error, size_t) {
                              if (error || !keepAlive) {
                                  self->Close();
                                  return;
                              }
                              self->Read();
                          });
    }

    void StartStream(const std::string& first)
    {
        streaming_ = true;
        ++server_.streams;
        server_.streaming.push_back(shared_from_this());
        // The body lasts until the connection ends: no length, no chunks.
        std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
                           "X-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";
        beast::error_code error;
        stream_.socket().non_blocking(true, error); // every chunk is tried at once (see Send)
        streamingStarted_ = !error;
        Send(std::make_shared<const std::string>(head + first));
        // What the site took in while this stream was being opened goes out with the next tick.
        server_.tickWanted = true;
        server_.Schedule();
    }

    void WriteNext()
    {
        if (out_.empty() || closed_) {
            writing_ = false;
            return;
        }
        writing_ = true;
        stream_.expires_after(std::chrono::milliseconds(server_.limits.writeTimeoutMs));
        const std::shared_ptr<const std::string> chunk = out_.front();
        asio::async_write(stream_, asio::buffer(*chunk),
                          [self = shared_from_this(), chunk](beast::error_code error, size_t) {
                              if (error || self->closed_) {
                                  self->Close();
                                  return;
                              }
                              self->backlog_ -= chunk->size();
                              self->server_.pending -= chunk->size();
                              self->out_.pop_front();
                              self->WriteNext();
                          });
    }

    void Close()
    {
        if (closed_) return;
        closed_ = true;
        if (streaming_) {
            streaming_ = false;
            --server_.streams;
        }
        server_.pending -= backlog_;
        backlog_ = 0;
        out_.clear();
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::empty_body>> parser_;
    WebServer::State& server_;
    std::deque<std::shared_ptr<const std::string>> out_;
    size_t backlog_ = 0;
    bool writing_ = false;
    bool streaming_ = false;
    bool streamingStarted_ = false;
    bool closed_ = false;
    bool head_ = false;
};

} // namespace

void WebServer::State::Accept()
{
    acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
        if (error == asio::error::operation_aborted || !acceptor.is_open()) return;
        if (error) {
            // Out of descriptors, say: wait a little rather than spin on the failing accept.
            acceptPause.expires_after(std::chrono::milliseconds(100));
            acceptPause.async_wait([this](beast::error_code paused) {
                if (!paused) Accept();
            });
            return;
        }
        if (connections.load() >= limits.maxConnections) {
            beast::error_code ignored;
            socket.close(ignored);
        } else {
            std::make_shared<Session>(std::move(socket), *this)->Read();
        }
        Accept();
    });
}

// The ticker waits only for a wanted tick or for the keep-alive of open
// streams: an idle server, or one whose pages have nothing new, sleeps.
void WebServer::State::Schedule()
{
    auto due = Clock::time_point::max();
    if (tickWanted) {
        // Many pages are fed less often: the station's own work comes first.
        const auto every = std::chrono::milliseconds(streams.load() > limits.busyStreams ? limits.busyTickMs : limits.tickMs);
        due = std::max(Clock::now(), lastTick + every);
    }
    if (streams.load() > 0) due = std::min(due, lastChunk + std::chrono::milliseconds(limits.keepAliveMs));
    if (due == tickDue) return;
    tickDue = due;
    if (due == Clock::time_point::max()) {
        ticker.cancel();
        return;
    }
    ticker.expires_at(due); // a wait for another time ends with operation_aborted
    ticker.async_wait([this](beast::error_code error) {
        if (error) return;
        tickDue = Clock::time_point::max();
        Tick();
    });
}

void WebServer::State::Tick()
{
    tickWanted = false;
    const auto now = Clock::now();
    lastTick = now;
    std::string chunk = site.Tick();
    if (chunk.empty() && streams.load() > 0 && now - lastChunk >= std::chrono::milliseconds(limits.keepAliveMs))
        chunk = ":\n\n";
    if (!chunk.empty()) {
        lastChunk = now;
        const auto shared = std::make_shared<const std::string>(std::move(chunk));
        for (const std::shared_ptr<Session>& session : streaming) session->Send(shared);
    }
    streaming.remove_if([](const std::shared_ptr<Session>& session) { return session->Closed(); });
    Schedule();
}

WebServer::WebServer(WebSite& site, WebLimits limits) : state_(std::make_unique<State>(site, limits)) {}

WebServer::~WebServer() { Stop(); }

bool WebServer::Start(const std::string& address, uint16_t port, const std::string& token, std::string& error)
{
    State& s = *state_;
    s.token = token;
    boost::system::error_code failure;
    const asio::ip::address bound =
        address == "localhost" ? asio::ip::make_address("127.0.0.1") : asio::ip::make_address(address, failure);
    if (failure) {
        error = "cannot serve on " + address + ": not an address";
        return false;
    }
    const tcp::endpoint endpoint(bound, port);
    s.acceptor.open(endpoint.protocol(), failure);
    if (!failure) s.acceptor.set_option(asio::socket_base::reuse_address(true), failure);
    if (!failure) s.acceptor.bind(endpoint, failure);
    if (!failure) s.acceptor.listen(asio::socket_base::max_listen_connections, failure);
    if (failure) {
        error = "cannot serve on " + address + ":" + std::to_string(port) + ": " + failure.message();
        return false;
    }
    s.Accept();
    s.thread = std::thread([&s] { s.io.run(); });
    return true;
}

uint16_t WebServer::Port() const
{
    boost::system::error_code ignored;
    return state_->acceptor.local_endpoint(ignored).port();
}

void WebServer::Stop()
{
    State& s = *state_;
    if (s.stopped) return;
    s.stopped = true;
    s.io.stop();
    if (s.thread.joinable()) s.thread.join();
    // While the context still exists: their sockets belong to it.
    s.streaming.clear();
}

void WebServer::Wake()
{
    State& s = *state_;
    if (s.wakePosted.exchange(true)) return;
    asio::post(s.io, [&s] {
        s.wakePosted = false;
        s.tickWanted = true;
        s.Schedule();
    });
}

size_t WebServer::OpenConnections() const { return state_->connections.load(); }

size_t WebServer::StreamsOpen() const { return state_->streams.load(); }

size_t WebServer::PendingBytes() const { return state_->pending.load(); }
