// The panel's server over cpp-httplib: every request passes one gate before
// any handler, and whatever is refused is only counted.
#include "tools/zelvan_ctl/panel/panel_server.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "tools/zelvan_ctl/panel/page_files.h"
#include "tools/zelvan_ctl/panel/panel_open.h"

namespace zelvan::ctl {
namespace {

constexpr const char *kCookieName = "zelvan_panel";
constexpr size_t kBodyLimit = 64 * 1024;

// Time that does not depend on where the strings first differ.
bool SameSecret(const std::string &a, const std::string &b)
{
	if (a.size() != b.size())
		return false;
	unsigned char differ = 0;
	for (size_t i = 0; i < a.size(); ++i)
		differ = static_cast<unsigned char>(differ | (a[i] ^ b[i]));
	return differ == 0;
}

// Whether any zelvan_panel cookie is `session`: a page on another port of
// 127.0.0.1 can plant one of that name (cookies do not keep to a port), and
// it must not shut the panel's own out.
bool CookieHolds(const httplib::Request &req, const std::string &session)
{
	if (req.get_header_value_count("Cookie") != 1)
		return false;
	const std::string cookies = req.get_header_value("Cookie");
	const std::string prefix = std::string(kCookieName) + "=";
	bool holds = false;
	size_t at = 0;
	while (at < cookies.size()) {
		size_t end = cookies.find(';', at);
		if (end == std::string::npos)
			end = cookies.size();
		std::string pair = cookies.substr(at, end - at);
		while (!pair.empty() && pair.front() == ' ')
			pair.erase(0, 1);
		if (pair.rfind(prefix, 0) == 0)
			holds = SameSecret(pair.substr(prefix.size()), session) || holds;
		at = end + 1;
	}
	return holds;
}

void Plain(httplib::Response &res, int status, const std::string &reason)
{
	res.status = status;
	res.set_content(reason + "\n", "text/plain; charset=utf-8");
}

// What one request may make the server read: its headers, which no count
// of lines limits otherwise, and the largest body with some framing.
constexpr size_t kRequestBytes = 16 * 1024 + kBodyLimit + 4 * 1024;

// The connection's stream with that budget: past it, reads fail and httplib
// answers 400 as for any request it cannot read.
class CappedStream : public httplib::Stream {
public:
	explicit CappedStream(httplib::Stream &inner) : inner_(inner) {}
	bool is_readable() const override { return inner_.is_readable(); }
	bool is_writable() const override { return inner_.is_writable(); }
	ssize_t read(char *ptr, size_t size) override
	{
		if (left_ == 0)
			return -1;
		const ssize_t n = inner_.read(ptr, std::min(size, left_));
		if (n > 0)
			left_ -= static_cast<size_t>(n);
		return n;
	}
	ssize_t write(const char *ptr, size_t size) override { return inner_.write(ptr, size); }
	void get_remote_ip_and_port(std::string &ip, int &port) const override { inner_.get_remote_ip_and_port(ip, port); }
	void get_local_ip_and_port(std::string &ip, int &port) const override { inner_.get_local_ip_and_port(ip, port); }
	socket_t socket() const override { return inner_.socket(); }

private:
	httplib::Stream &inner_;
	size_t left_ = kRequestBytes;
};

// Set when the request on this thread's connection was refused.
thread_local bool refused_here = false;

// httplib's own loop over a connection's requests, except that a refusal
// ends the connection: the bytes after it (a body the gate never read) are
// not taken for the next request, nor counted again. A connection from
// another user's process is closed before a byte of it is read: nothing it
// sends can keep one of the four threads waiting.
class GateServer : public httplib::Server {
public:
	std::atomic<uint64_t> *refused = nullptr;

private:
	bool process_and_close_socket(socket_t sock) override
	{
		if (!PeerIsThisUser(static_cast<uintptr_t>(sock))) {
			refused->fetch_add(1);
			httplib::detail::shutdown_socket(sock);
			httplib::detail::close_socket(sock);
			return false;
		}
		const bool served = httplib::detail::process_server_socket(
		    svr_sock_, sock, keep_alive_max_count_, keep_alive_timeout_sec_, read_timeout_sec_, read_timeout_usec_,
		    write_timeout_sec_, write_timeout_usec_,
		    [this](httplib::Stream &stream, bool close_connection, bool &connection_closed) {
			    refused_here = false;
			    CappedStream capped(stream);
			    const bool written = process_request(capped, close_connection, connection_closed, nullptr);
			    connection_closed = connection_closed || refused_here;
			    return written;
		    });
		httplib::detail::shutdown_socket(sock);
		httplib::detail::close_socket(sock);
		return served;
	}
};

} // namespace

struct PanelServer::State {
	PanelApi api;
	PanelKeys keys;
	std::chrono::milliseconds idle;
	GateServer server;
	int port = 0;
	std::atomic<uint64_t> refused{0};
	std::atomic<bool> opened{false}; // the open key was used

	std::mutex mutex;
	std::condition_variable wake;
	std::chrono::steady_clock::time_point last_seen = std::chrono::steady_clock::now();
	bool quit = false;
	bool listened = false; // listen_after_bind has returned

	State(PanelApi a, PanelKeys k, std::chrono::milliseconds i) : api(std::move(a)), keys(std::move(k)), idle(i) {}

	bool HostIsOurs(const httplib::Request &req) const
	{
		if (req.get_header_value_count("Host") != 1)
			return false;
		const std::string host = req.get_header_value("Host");
		const std::string port_text = ":" + std::to_string(port);
		return host == "127.0.0.1" + port_text || host == "localhost" + port_text;
	}

	bool OriginIsOurs(const httplib::Request &req) const
	{
		if (req.get_header_value_count("Origin") != 1)
			return false;
		const std::string origin = req.get_header_value("Origin");
		const std::string port_text = ":" + std::to_string(port);
		return origin == "http://127.0.0.1" + port_text || origin == "http://localhost" + port_text;
	}

	// A change is a POST from the panel's own page with a JSON body.
	int RefuseChange(const httplib::Request &req, std::string &reason) const
	{
		if (req.method != "POST") {
			reason = "changes are POST requests";
			return 405;
		}
		if (!OriginIsOurs(req)) {
			reason = "not from the panel's page";
			return 403;
		}
		// Refused on its word, before a slow sender keeps a thread for it.
		const std::string length = req.get_header_value("Content-Length");
		if (length.size() > 6 || (!length.empty() && std::strtoul(length.c_str(), nullptr, 10) > kBodyLimit)) {
			reason = "the body is 64 KiB at most";
			return 413;
		}
		const std::string type = req.get_header_value("Content-Type");
		if (req.get_header_value_count("Content-Type") != 1 ||
		    type.substr(0, type.find(';')) != "application/json") {
			reason = "the body is application/json";
			return 415;
		}
		return 0;
	}

	// The gate, before any body is read: 0 lets the request through.
	int Refuse(const httplib::Request &req, std::string &reason)
	{
		if (!HostIsOurs(req)) {
			reason = "not this panel's address";
			return 403;
		}
		if (req.path == "/open") {
			reason = "not this panel's key";
			if (req.method != "GET" || req.params.size() != 1 || req.params.count("key") != 1)
				return 403;
			// Once: the address stays in the browser's history.
			return SameSecret(req.get_param_value("key"), keys.open) && !opened.exchange(true) ? 0 : 403;
		}
		if (!CookieHolds(req, keys.session)) {
			reason = "open the panel from zelvan-ctl panel";
			return 403;
		}
		// Any POST is a change, and so is a GET of a path only POST serves.
		static const char *const kPostOnly[] = {"/api/presence", "/api/ipd",       "/api/quit",
		                                        "/api/record/cancel", "/api/tune", "/api/tune/apply",
		                                        "/api/report",   "/api/kept/restore"};
		const auto end = std::end(kPostOnly);
		const bool change = req.method == "POST" || std::find(std::begin(kPostOnly), end, req.path) != end;
		if (change)
			return RefuseChange(req, reason);
		if (req.method != "GET") {
			reason = "only GET here";
			return 405;
		}
		return 0;
	}

	void Seen()
	{
		std::lock_guard lock(mutex);
		last_seen = std::chrono::steady_clock::now();
	}

	void Quit()
	{
		std::lock_guard lock(mutex);
		quit = true;
		wake.notify_all();
	}

	static void Answer(httplib::Response &res, const ApiReply &reply)
	{
		if (reply.status == 200)
			res.set_content(reply.body, "application/json");
		else
			Plain(res, reply.status, reply.body);
	}

	// Only the named parameters, each once: anything else is a fault of the
	// request, not something to ignore.
	static bool OnlyParams(const httplib::Request &req, std::initializer_list<const char *> names)
	{
		for (const auto &param : req.params) {
			bool known = false;
			for (const char *name : names)
				known = known || param.first == name;
			if (!known || req.params.count(param.first) != 1)
				return false;
		}
		return true;
	}

	void Routes();
};

void PanelServer::State::Routes()
{
	server.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
		std::string reason;
		if (const int status = Refuse(req, reason)) {
			Plain(res, status, reason);
			return httplib::Server::HandlerResponse::Handled;
		}
		Seen();
		return httplib::Server::HandlerResponse::Unhandled;
	});
	server.Get("/open", [this](const httplib::Request &, httplib::Response &res) {
		res.set_header("Set-Cookie", std::string(kCookieName) + "=" + keys.session + "; HttpOnly; SameSite=Strict; Path=/");
		// Not a redirect: a chain begun by the launch file counts as another
		// site's, and Chromium leaves a Strict cookie out of all of it. A step
		// from our own page to "/" carries it.
		res.set_content("<!doctype html><meta http-equiv=\"refresh\" content=\"0; url=/\"><title>Zelvan Proximity</title>\n",
		                "text/html; charset=utf-8");
	});
	const auto no_params = [](auto handler) {
		return [handler](const httplib::Request &req, httplib::Response &res) {
			if (!req.params.empty())
				return Plain(res, 400, "no parameters here");
			handler(req, res);
		};
	};
	server.Get("/api/status", no_params([this](const httplib::Request &, httplib::Response &res) {
		Answer(res, api.Status(refused.load()));
	}));
	server.Get("/api/doctor", no_params([this](const httplib::Request &, httplib::Response &res) {
		Answer(res, api.Doctor());
	}));
	server.Get("/api/samples", [this](const httplib::Request &req, httplib::Response &res) {
		if (!OnlyParams(req, {"after"}))
			return Plain(res, 400, "samples takes after=N only");
		const std::string after = req.get_param_value("after");
		Answer(res, api.Samples(req.has_param("after") ? &after : nullptr));
	});
	server.Post("/api/presence", no_params([this](const httplib::Request &req, httplib::Response &res) {
		Answer(res, api.Presence(req.body));
	}));
	server.Post("/api/ipd", no_params([this](const httplib::Request &req, httplib::Response &res) {
		Answer(res, api.Ipd(req.body));
	}));
	server.Post("/api/record", no_params([this](const httplib::Request &req, httplib::Response &res) {
		Answer(res, api.Record(req.body));
	}));
	server.Get("/api/record", [this](const httplib::Request &req, httplib::Response &res) {
		if (!OnlyParams(req, {"after"}))
			return Plain(res, 400, "record takes after=N only");
		const std::string after = req.get_param_value("after");
		Answer(res, api.RecordEvents(req.has_param("after") ? &after : nullptr));
	});
	server.Post("/api/record/cancel", no_params([this](const httplib::Request &req, httplib::Response &res) {
		Answer(res, api.CancelRecording(req.body));
	}));
	server.Get("/api/recordings", no_params([this](const httplib::Request &, httplib::Response &res) {
		Answer(res, api.Recordings());
	}));
	server.Post("/api/tune", no_params([this](const httplib::Request &req, httplib::Response &res) {
		Answer(res, api.Tune(req.body));
	}));
	server.Post("/api/tune/apply", no_params([this](const httplib::Request &req, httplib::Response &res) {
		Answer(res, api.TuneApply(req.body));
	}));
	server.Get("/api/mend", no_params([this](const httplib::Request &, httplib::Response &res) {
		Answer(res, api.Mend(nullptr));
	}));
	server.Post("/api/mend", no_params([this](const httplib::Request &req, httplib::Response &res) {
		Answer(res, api.Mend(&req.body));
	}));
	server.Post("/api/report", no_params([this](const httplib::Request &req, httplib::Response &res) {
		Answer(res, api.Report(req.body));
	}));
	server.Get("/api/kept", no_params([this](const httplib::Request &, httplib::Response &res) {
		Answer(res, api.Kept());
	}));
	server.Post("/api/kept/restore", no_params([this](const httplib::Request &req, httplib::Response &res) {
		Answer(res, api.KeptRestore(req.body));
	}));
	server.Post("/api/quit", no_params([this](const httplib::Request &req, httplib::Response &res) {
		if (!nlohmann::json::parse(req.body, nullptr, false).is_object())
			return Plain(res, 400, "the body is not a JSON object");
		res.set_content("{\"ok\":true}", "application/json");
		Quit();
	}));
	server.Get(".*", no_params([](const httplib::Request &req, httplib::Response &res) {
		const std::string path = req.path == "/" ? "/index.html" : req.path;
		for (size_t i = 0; i < kPageFileCount; ++i) {
			if (path == kPageFiles[i].path) {
				res.set_content(reinterpret_cast<const char *>(kPageFiles[i].data), kPageFiles[i].size,
				                kPageFiles[i].type);
				return;
			}
		}
		Plain(res, 404, "no such page");
	}));
	// Every response of 400 or more comes here before it is written, httplib's
	// own (a line too long, a POST elsewhere) too: counted, and given a
	// reason when it has none.
	server.set_error_handler(httplib::Server::HandlerWithResponse([this](const httplib::Request &, httplib::Response &res) {
		refused.fetch_add(1);
		refused_here = true;
		res.set_header("Connection", "close");
		if (res.body.empty())
			Plain(res, res.status, httplib::detail::status_message(res.status));
		return httplib::Server::HandlerResponse::Unhandled;
	}));
}

PanelServer::PanelServer(PanelApi api, PanelKeys keys, std::chrono::milliseconds idle)
    : state_(std::make_unique<State>(std::move(api), std::move(keys), idle))
{
	httplib::Server &server = state_->server;
	server.new_task_queue = [] { return new httplib::ThreadPool(4); };
	server.set_payload_max_length(kBodyLimit);
	server.set_read_timeout(5, 0);
	server.set_write_timeout(5, 0);
	server.set_keep_alive_timeout(5);
	server.set_keep_alive_max_count(100);
	// A reply is its headers and its body in two writes: with Nagle the body
	// waits for the browser's delayed ACK, 40 ms a file.
	server.set_tcp_nodelay(true);
	server.set_default_headers({
	    {"Content-Security-Policy", "default-src 'self'; img-src 'self' data:; style-src 'self'; script-src 'self'; "
	                                "connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; form-action 'self'"},
	    {"X-Content-Type-Options", "nosniff"},
	    {"Referrer-Policy", "no-referrer"},
	    {"Cache-Control", "no-store"},
	});
	state_->server.refused = &state_->refused;
	state_->Routes();
}

PanelServer::~PanelServer()
{
	state_->api.StopRecording();
}

bool PanelServer::Bind(int port, std::string &error)
{
	const bool bound = port == 0 ? (state_->port = state_->server.bind_to_any_port("127.0.0.1")) > 0
	                             : state_->server.bind_to_port("127.0.0.1", port);
	if (!bound) {
		error = port == 0 ? "no port to listen on at 127.0.0.1" : "port " + std::to_string(port) + " is taken";
		return false;
	}
	if (port != 0)
		state_->port = port;
	return true;
}

int PanelServer::Port() const
{
	return state_->port;
}

void PanelServer::Run()
{
	State &s = *state_;
	std::thread watcher([&s] {
		std::unique_lock lock(s.mutex);
		while (!s.quit) {
			const auto now = std::chrono::steady_clock::now();
			if (now >= s.last_seen + s.idle) {
				// The page may be closed while the person holds the headset:
				// the recording goes on, and the idle end waits for it.
				if (!s.api.Recording())
					break;
				s.last_seen = now;
			}
			s.wake.wait_until(lock, s.last_seen + s.idle);
		}
		// A stop before listening began is lost: it is asked again until
		// listening has ended.
		while (!s.listened) {
			lock.unlock();
			s.server.stop();
			lock.lock();
			s.wake.wait_for(lock, std::chrono::milliseconds(10));
		}
	});
	s.server.listen_after_bind();
	{
		std::lock_guard lock(s.mutex);
		s.listened = true;
		s.quit = true;
		s.wake.notify_all();
	}
	watcher.join();
	s.api.StopRecording();
}

void PanelServer::Stop()
{
	state_->Quit();
}

uint64_t PanelServer::Refused() const
{
	return state_->refused.load();
}

} // namespace zelvan::ctl

namespace zelvan::ctl {

bool RandomSecret(std::string &hex)
{
	unsigned char bytes[32];
	if (!RandomBytes(bytes, sizeof(bytes)))
		return false;
	static const char digits[] = "0123456789abcdef";
	hex.clear();
	for (unsigned char byte : bytes) {
		hex += digits[byte >> 4];
		hex += digits[byte & 15];
	}
	return true;
}

bool TcpTableOwner(std::FILE *table, uint32_t peer_addr, uint16_t peer_port, uint32_t our_addr, uint16_t our_port,
                   unsigned long &uid)
{
	// The kernel prints each address as its 32 bits in hex.
	char local[16], remote[16];
	std::snprintf(local, sizeof(local), "%08lX:%04X", static_cast<unsigned long>(peer_addr), peer_port);
	std::snprintf(remote, sizeof(remote), "%08lX:%04X", static_cast<unsigned long>(our_addr), our_port);
	char line[512];
	while (std::fgets(line, sizeof(line), table) != nullptr) {
		char from[64], to[64];
		if (std::sscanf(line, " %*s %63s %63s %*s %*s %*s %*s %lu", from, to, &uid) == 3 &&
		    std::strcmp(from, local) == 0 && std::strcmp(to, remote) == 0)
			return true;
	}
	return false;
}

std::string LaunchPage(const std::string &address)
{
	return "<!doctype html>\n<meta charset=\"utf-8\">\n<title>Zelvan Proximity</title>\n"
	       "<meta http-equiv=\"refresh\" content=\"0;url=" + address + "\">\n"
	       "<p><a href=\"" + address + "\">Open the panel</a></p>\n";
}

} // namespace zelvan::ctl
