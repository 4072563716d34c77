// httplib.h first: on Windows it brings in winsock2.h, which must come before windows.h.
#include <httplib.h>

#include "cli/station_page.h"
#include "tools/system_error.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <thread>

namespace tarnik::cli {

namespace {

using Json = nlohmann::ordered_json;

// Tenths of a second: enough for a card, and the JSON stays short.
double Tenths(double seconds) {
    return std::round(std::max(seconds, 0.0) * 10) / 10;
}

Json SerialJson(const std::optional<std::string>& serial) {
    return serial ? Json(*serial) : Json(nullptr);
}

Json PortJson(const PortSnapshot& port, std::chrono::steady_clock::time_point now) {
    double seconds = port.seconds;
    if (port.state == PortState::Running && port.runningSince)
        seconds = std::chrono::duration<double>(now - *port.runningSince).count();
    Json json;
    json["port"] = port.port;
    json["unit_type"] = port.unitType;
    json["unit_title"] = port.unitTitle;
    json["serial"] = SerialJson(port.serial);
    json["step"] = port.step;
    json["percent"] = std::clamp(port.percent, 0, 100);
    json["state"] = PortStateWord(port.state);
    json["seconds"] = Tenths(seconds);
    json["status"] = port.status;
    return json;
}

Json TotalsJson(const StationTotals& totals) {
    Json failedBySteps = Json::array();
    int failed = 0;
    for (const auto& [step, units] : totals.failedByStep) {
        failedBySteps.push_back({{"step", step}, {"units", units}});
        failed += units;
    }
    Json json;
    json["units"] = totals.units;
    json["programmed"] = totals.programmed;
    json["failed"] = failed;
    json["interrupted"] = totals.interrupted;
    json["failed_by_step"] = std::move(failedBySteps);
    return json;
}

Json ResultJson(const ShownResult& row) {
    Json json;
    json["time"] = row.time;
    json["port"] = row.port;
    json["unit_type"] = row.unitType;
    json["serial"] = SerialJson(row.serial);
    json["outcome"] = row.outcome;
    json["exit_status"] = row.exitStatus;
    json["step"] = row.step;
    json["status"] = row.status;
    json["seconds"] = Tenths(row.seconds);
    return json;
}

// Texts that are not UTF-8 go out with replacement characters: one stray byte in a status
// line must not cost the whole page its data.
std::string Dump(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The host of a Host header: "[::1]:8080" gives "::1", "127.0.0.1:8080" gives "127.0.0.1".
std::string_view HostOfHeader(std::string_view header) {
    if (!header.empty() && header.front() == '[') {
        const std::size_t close = header.find(']');
        return close == std::string_view::npos ? header : header.substr(1, close - 1);
    }
    return header.substr(0, header.find(':'));
}

constexpr int kDefaultResults = 20;

} // namespace

std::string_view PortStateWord(PortState state) {
    switch (state) {
    case PortState::Waiting:
        return "waiting";
    case PortState::Running:
        return "running";
    case PortState::Programmed:
        return "programmed";
    case PortState::Failed:
        return "failed";
    case PortState::Interrupted:
        return "interrupted";
    }
    return "waiting";
}

void CountResult(StationTotals& totals, const ShownResult& row) {
    ++totals.units;
    if (row.outcome == "programmed")
        ++totals.programmed;
    else if (row.outcome == "interrupted")
        ++totals.interrupted;
    else
        // A unit that never started has no step: it is counted under its outcome.
        ++totals.failedByStep[row.step.empty() ? row.outcome : row.step];
}

std::string StatusJson(const StationSnapshot& snapshot, std::chrono::steady_clock::time_point now) {
    Json ports = Json::array();
    for (const PortSnapshot& port : snapshot.ports)
        ports.push_back(PortJson(port, now));
    Json json;
    json["ports"] = std::move(ports);
    json["totals"] = TotalsJson(snapshot.totals);
    json["results_version"] = snapshot.resultsVersion;
    return Dump(json);
}

std::string ResultsJson(const StationSnapshot& snapshot, std::size_t limit) {
    Json results = Json::array();
    for (std::size_t i = 0; i < snapshot.results.size() && i < limit; ++i)
        results.push_back(ResultJson(snapshot.results[i]));
    Json json;
    json["results"] = std::move(results);
    return Dump(json);
}

HttpAddressParse ParseHttpAddress(std::string_view text) {
    HttpAddressParse parse;
    std::string_view portText = text;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find("]:");
        if (close == std::string_view::npos) {
            parse.error = "expected [HOST]:PORT";
            return parse;
        }
        parse.address.host = std::string(text.substr(1, close - 1));
        portText = text.substr(close + 2);
    } else if (const std::size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        if (text.find(':') != colon) {
            parse.error = "an IPv6 host goes in brackets, as in [::1]:8080";
            return parse;
        }
        parse.address.host = std::string(text.substr(0, colon));
        portText = text.substr(colon + 1);
    }
    if (parse.address.host.empty()) {
        parse.error = "the host is empty";
        return parse;
    }
    int port = -1;
    const auto [end, failure] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || failure != std::errc() || end != portText.data() + portText.size() ||
        port < 0 || port > 65535) {
        parse.error = "the port must be a number 0..65535";
        return parse;
    }
    parse.address.port = port;
    return parse;
}

bool IsLoopbackHost(std::string_view host) {
    if (host == "localhost" || host == "::1") return true;
    // 127.0.0.0/8, written as four decimal parts.
    if (host.substr(0, 4) != "127.") return false;
    int parts = 0;
    for (std::size_t at = 0; at <= host.size();) {
        const std::size_t dot = std::min(host.find('.', at), host.size());
        int value = -1;
        const auto [end, failure] = std::from_chars(host.data() + at, host.data() + dot, value);
        if (dot == at || failure != std::errc() || end != host.data() + dot || value > 255)
            return false;
        ++parts;
        at = dot + 1;
    }
    return parts == 4;
}

class StationPage::Server {
public:
    httplib::Server http;
    std::thread thread;
};

std::unique_ptr<StationPage> StationPage::Start(const HttpAddress& address, std::string& error) {
    std::unique_ptr<StationPage> page(new StationPage);
    page->server_ = std::make_unique<Server>();
    httplib::Server& http = page->server_->http;
    StationPage* self = page.get();

    // One request per connection: a kept-alive connection holds a server thread that checks
    // it a hundred times a second, and ten pages polling once a second need none of that.
    http.set_keep_alive_max_count(1);
    // The library's own options share the port (SO_REUSEPORT) with any other program bound
    // to it, and browsers would see either station by chance: a port in use is refused.
    http.set_socket_options([](socket_t socket) {
        int yes = 1;
#ifdef _WIN32
        setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
                   sizeof yes);
#else
        // Still lets a restarted run take its port back from connections closing down.
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
    });
#ifdef _WIN32
    // There the accept loop polls with this interval as its time-out (zero would spin).
    http.set_idle_interval(std::chrono::milliseconds(200));
#endif
    http.set_default_headers({
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
        // The page loads nothing from anywhere: its own inline style and script, its own API.
        {"Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'; "
                                    "script-src 'unsafe-inline'; connect-src 'self'; "
                                    "img-src data:; frame-ancestors 'none'"},
    });
    if (IsLoopbackHost(address.host)) {
        // A page served only on this machine answers only requests addressed to this machine:
        // a web site whose name is made to point here cannot read the station from a browser.
        http.set_pre_routing_handler(
            [](const httplib::Request& request, httplib::Response& response) {
                const std::string header = request.get_header_value("Host");
                if (header.empty() || IsLoopbackHost(HostOfHeader(header)))
                    return httplib::Server::HandlerResponse::Unhandled;
                response.status = 403;
                response.set_content("Forbidden: the station page is served to this machine only\n",
                                     "text/plain; charset=utf-8");
                return httplib::Server::HandlerResponse::Handled;
            });
    }
    http.Get("/", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(std::string(StationPageHtml()), "text/html; charset=utf-8");
    });
    http.Get("/api/status", [self](const httplib::Request&, httplib::Response& response) {
        response.set_content(self->StatusText(), "application/json");
    });
    http.Get("/api/results", [self](const httplib::Request& request, httplib::Response& response) {
        int limit = kDefaultResults;
        if (request.has_param("limit")) {
            const std::string text = request.get_param_value("limit");
            const auto [end, failure] =
                std::from_chars(text.data(), text.data() + text.size(), limit);
            if (text.empty() || failure != std::errc() || end != text.data() + text.size() ||
                limit < 0) {
                response.status = 400;
                response.set_content(R"({"error":"limit must be a whole number from 0"})",
                                     "application/json");
                return;
            }
        }
        response.set_content(self->ResultsText(static_cast<std::size_t>(limit)),
                             "application/json");
    });

    errno = 0;
    const int port = address.port == 0 ? http.bind_to_any_port(address.host)
                     : http.bind_to_port(address.host, address.port) ? address.port
                                                                     : -1;
    if (port <= 0) {
        const int why = errno;
        error = "cannot serve the station page on " + address.host + ":" +
                std::to_string(address.port) + (why != 0 ? ": " + ErrnoText(why) : std::string());
        return nullptr;
    }
    page->port_ = port;
    const bool ipv6 = address.host.find(':') != std::string::npos;
    page->url_ = "http://" + (ipv6 ? "[" + address.host + "]" : address.host) + ":" +
                 std::to_string(port) + "/";
    page->server_->thread = std::thread([&http] { http.listen_after_bind(); });
    // A stop that came before the loop had begun would be lost, and the join would wait.
    while (!http.is_running())
        std::this_thread::yield();
    return page;
}

StationPage::~StationPage() {
    if (!server_) return;
    server_->http.stop();
    if (server_->thread.joinable()) server_->thread.join();
}

void StationPage::UpdatePort(std::size_t index, PortSnapshot port) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (snapshot_.ports.size() <= index) snapshot_.ports.resize(index + 1);
    snapshot_.ports[index] = std::move(port);
}

void StationPage::AddResult(ShownResult row) {
    const std::lock_guard<std::mutex> lock(mutex_);
    CountResult(snapshot_.totals, row);
    snapshot_.results.insert(snapshot_.results.begin(), std::move(row));
    if (snapshot_.results.size() > kKeptResults) snapshot_.results.resize(kKeptResults);
    ++snapshot_.resultsVersion;
}

void StationPage::Replace(StationSnapshot snapshot) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const unsigned version = snapshot_.resultsVersion + 1;
    snapshot_ = std::move(snapshot);
    snapshot_.resultsVersion = std::max(snapshot_.resultsVersion, version);
}

std::string StationPage::StatusText() const {
    StationSnapshot part;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        part.ports = snapshot_.ports;
        part.totals = snapshot_.totals;
        part.resultsVersion = snapshot_.resultsVersion;
    }
    return StatusJson(part, std::chrono::steady_clock::now());
}

std::string StationPage::ResultsText(std::size_t limit) const {
    StationSnapshot part;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto end = snapshot_.results.begin() +
                         static_cast<std::ptrdiff_t>(std::min(limit, snapshot_.results.size()));
        part.results.assign(snapshot_.results.begin(), end);
    }
    return ResultsJson(part, limit);
}

StationSnapshot StationPage::Snapshot() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return snapshot_;
}

} // namespace tarnik::cli
