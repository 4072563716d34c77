#pragma once
// The station page: a read-only web page that shows every unit of a station run at a glance
// (one card per port, the latest results, the totals), served over HTTP on a thread of its
// own. The run copies what it knows into a snapshot under a short lock; the server reads a
// copy of it, so a slow or stalled browser never holds up a programmer. Every value reaches
// the browser as JSON and the page puts it in as text, never as markup.
#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnik::cli {

enum class PortState { Waiting, Running, Programmed, Failed, Interrupted };

// "waiting", "running", "programmed", "failed", "interrupted".
std::string_view PortStateWord(PortState state);

// One port's card. Texts are UTF-8.
struct PortSnapshot {
    std::string port;      // the label, e.g. "ttyUSB1"
    int unitType = -1;     // -1 while no image has told it
    std::string unitTitle; // the unit type's name, e.g. "Expander"
    std::optional<std::string> serial;
    std::string step; // the current step's name; on a failed card the step that failed
    int percent = 0;  // 0..100
    PortState state = PortState::Waiting;
    double seconds = 0; // elapsed, when runningSince is not set
    // While running, the elapsed seconds are counted from here at every request, so the
    // card's clock moves even when the process reports nothing for a while.
    std::optional<std::chrono::steady_clock::time_point> runningSince;
    std::string status; // the status line; on a failed card the failing step's text
};

// One unit that has ended, as the page shows it.
struct ShownResult {
    std::string time; // local time with its offset (ISO 8601)
    std::string port;
    int unitType = -1;
    std::optional<std::string> serial;
    std::string outcome; // "programmed", "failed", "interrupted", "not started"
    int exitStatus = -1;
    std::string step; // the step it ended in (for a failure: the step that failed)
    std::string status;
    double seconds = 0;
};

struct StationTotals {
    int units = 0;
    int programmed = 0;
    int interrupted = 0;
    std::map<std::string, int> failedByStep; // step name: units
};

struct StationSnapshot {
    std::vector<PortSnapshot> ports;
    StationTotals totals;
    std::vector<ShownResult> results; // newest first
    // Moves on with every change of the results, so a page fetches them only when it must.
    unsigned resultsVersion = 0;
};

// Counts one ended unit into the totals by its outcome word.
void CountResult(StationTotals& totals, const ShownResult& row);

// The JSON of /api/status and of /api/results?limit=N. Seconds of running ports are counted
// up to now.
std::string StatusJson(const StationSnapshot& snapshot, std::chrono::steady_clock::time_point now);
std::string ResultsJson(const StationSnapshot& snapshot, std::size_t limit);

// The page served at /: HTML, CSS and script in one text, with no value of the run in it.
std::string_view StationPageHtml();

// Where the page is served: [HOST:]PORT, an IPv6 host in brackets ("[::1]:8080").
struct HttpAddress {
    std::string host = "127.0.0.1";
    int port = 0; // 0 picks a free one
};
struct HttpAddressParse {
    HttpAddress address;
    std::string error; // empty when usable
};
HttpAddressParse ParseHttpAddress(std::string_view text);
// True for 127.0.0.0/8, ::1 and "localhost": the only hosts served without being named.
bool IsLoopbackHost(std::string_view host);

class StationPage {
public:
    // Binds the address and starts serving on a thread of its own. Nothing and the reason
    // when the address cannot be bound.
    static std::unique_ptr<StationPage> Start(const HttpAddress& address, std::string& error);
    ~StationPage(); // stops serving and joins the thread

    StationPage(const StationPage&) = delete;
    StationPage& operator=(const StationPage&) = delete;

    // "http://127.0.0.1:PORT/" with the port actually bound.
    const std::string& Url() const { return url_; }
    int Port() const { return port_; }

    // Updates made by the run; each takes the lock only to copy.
    void UpdatePort(std::size_t index, PortSnapshot port); // the list grows as needed
    // Puts an ended unit first in the results and counts it into the totals.
    void AddResult(ShownResult row);
    void Replace(StationSnapshot snapshot);
    StationSnapshot Snapshot() const;

private:
    class Server;
    StationPage() = default;
    // The answers of /api/status and /api/results: only what they need is copied under the
    // lock, and the JSON is written after it is released.
    std::string StatusText() const;
    std::string ResultsText(std::size_t limit) const;

    mutable std::mutex mutex_;
    StationSnapshot snapshot_;
    std::unique_ptr<Server> server_;
    std::string url_;
    int port_ = 0;
};

// How many ended units the page keeps; the oldest go first.
inline constexpr std::size_t kKeptResults = 500;

} // namespace tarnik::cli
