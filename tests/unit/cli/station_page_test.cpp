// The station page over real HTTP on 127.0.0.1: the JSON endpoints' fields and states, texts
// that are markup kept as data, a read-only server that answers only this machine, and the
// [HOST:]PORT argument.
#include <httplib.h>

#include "station_page_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace tarnik::cli {
namespace {

using nlohmann::json;

class StationPageServer : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        page_ = StationPage::Start({"127.0.0.1", 0}, error);
        ASSERT_TRUE(page_) << error;
        testing::FillThreePortStation(*page_);
        client_.emplace("127.0.0.1", page_->Port());
    }
    json GetJson(const std::string& path) {
        const auto response = client_->Get(path);
        if (!response || response->status != 200) return {};
        return json::parse(response->body);
    }
    std::unique_ptr<StationPage> page_;
    std::optional<httplib::Client> client_;
};

TEST_F(StationPageServer, StatusCarriesEveryPortWithItsState) {
    const json status = GetJson("/api/status");
    ASSERT_EQ(status.at("ports").size(), 3u) << status;
    const struct {
        const char* port;
        const char* serial;
        const char* state;
        int percent;
    } rows[] = {{"ttyUSB0", "0000A1F3", "running", 64},
                {"ttyUSB1", "0000A1F2", "programmed", 100},
                {"ttyUSB2", "0000A1F4", "failed", 0}};
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const json& port = status["ports"][i];
        EXPECT_EQ(port.at("port"), rows[i].port);
        EXPECT_EQ(port.at("serial"), rows[i].serial);
        EXPECT_EQ(port.at("state"), rows[i].state);
        EXPECT_EQ(port.at("percent"), rows[i].percent);
        EXPECT_EQ(port.at("unit_type"), 1);
        for (const char* field : {"unit_title", "step", "seconds", "status"})
            EXPECT_TRUE(port.contains(field)) << field;
    }
    // A running port's clock is counted from its start, not from the last update.
    EXPECT_GE(status["ports"][0].at("seconds").get<double>(), 41.5);
    EXPECT_EQ(status["ports"][2].at("status"),
              "Process status: An error occurred. Connection establishment");
    const json& totals = status.at("totals");
    EXPECT_EQ(totals.at("units"), 4);
    EXPECT_EQ(totals.at("programmed"), 2);
    EXPECT_EQ(totals.at("failed"), 1);
    EXPECT_EQ(totals.at("interrupted"), 1);
    EXPECT_EQ(totals.at("failed_by_step"),
              json::parse(R"([{"step":"Erasing Block No 1 memory...","units":1}])"));
}

TEST_F(StationPageServer, ResultsNewestFirstUpToTheLimit) {
    const json results = GetJson("/api/results?limit=2").at("results");
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].at("serial"), "0000A1F2");
    EXPECT_EQ(results[1].at("port"), testing::kHostileLabel);
    EXPECT_EQ(GetJson("/api/results?limit=100").at("results").size(), 4u);
    // A unit that ends later is first at the next request.
    page_->AddResult(
        {"2026-03-02T14:04:00+01:00", "ttyUSB0", 1, std::nullopt, "not started", -1, "", "", 0});
    const json latest = GetJson("/api/results?limit=1").at("results").at(0);
    EXPECT_TRUE(latest.at("serial").is_null());
    EXPECT_EQ(GetJson("/api/status").at("totals").at("failed_by_step").size(), 2u);
}

TEST_F(StationPageServer, MarkupInALabelStaysText) {
    PortSnapshot hostile = page_->Snapshot().ports[0];
    hostile.port = testing::kHostileLabel;
    hostile.status = "\"</script>\xB3"; // a quote, a closing tag and a stray byte
    page_->UpdatePort(0, hostile);
    const auto response = client_->Get("/api/status");
    ASSERT_TRUE(response);
    EXPECT_EQ(response->get_header_value("Content-Type"), "application/json");
    const json port = json::parse(response->body).at("ports").at(0);
    EXPECT_EQ(port.at("port"), testing::kHostileLabel);
    EXPECT_EQ(port.at("status"), "\"</script>\xEF\xBF\xBD");
    // The page itself carries no value of the run: everything arrives as JSON data.
    const auto page = client_->Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(page->body.find("<div id=\"cards\">"), std::string::npos);
    EXPECT_EQ(page->body.find("owned"), std::string::npos);
    EXPECT_EQ(page->body.find("innerHTML"), std::string::npos);
}

TEST_F(StationPageServer, RefusesWhatItDoesNotServe) {
    const struct {
        const char* method;
        const char* path;
        const char* host; // Host header; empty: the client's own
        int status;
    } rows[] = {
        {"POST", "/api/status", "", 404},
        {"GET", "/api/results?limit=-1", "", 400},
        {"GET", "/api/results?limit=9x", "", 400},
        {"GET", "/api/status", "station.example:80", 403},
        {"GET", "/api/status", "localhost:8080", 200},
        {"GET", "/api/status", "[::1]:8080", 200},
    };
    for (const auto& row : rows) {
        httplib::Headers headers;
        if (*row.host) headers.emplace("Host", row.host);
        const auto response = std::string(row.method) == "POST"
                                  ? client_->Post(row.path, headers, "{}", "application/json")
                                  : client_->Get(row.path, headers);
        ASSERT_TRUE(response) << row.path;
        EXPECT_EQ(response->status, row.status) << row.method << " " << row.path << " " << row.host;
    }
}

TEST_F(StationPageServer, APortInUseIsRefusedWithItsReason) {
    std::string error;
    EXPECT_FALSE(StationPage::Start({"127.0.0.1", page_->Port()}, error));
    EXPECT_NE(error.find("127.0.0.1:" + std::to_string(page_->Port())), std::string::npos) << error;
}

TEST(StationPageAddress, HostAndPortAsGiven) {
    const struct {
        const char* text;
        const char* host; // nullptr: refused
        int port;
        bool loopback;
    } rows[] = {
        {"8080", "127.0.0.1", 8080, true},
        {"0", "127.0.0.1", 0, true},
        {"localhost:80", "localhost", 80, true},
        {"127.1.2.3:1", "127.1.2.3", 1, true},
        {"[::1]:8080", "::1", 8080, true},
        {"0.0.0.0:8080", "0.0.0.0", 8080, false},
        {"127.0.0.1.example.com:80", "127.0.0.1.example.com", 80, false},
        {"192.168.1.20:65535", "192.168.1.20", 65535, false},
        {"", nullptr, 0, false},
        {":8080", nullptr, 0, false},
        {"host:", nullptr, 0, false},
        {"host:65536", nullptr, 0, false},
        {"host:+80", nullptr, 0, false},
        {"::1:8080", nullptr, 0, false},
        {"[::1]8080", nullptr, 0, false},
    };
    for (const auto& row : rows) {
        const HttpAddressParse parse = ParseHttpAddress(row.text);
        EXPECT_EQ(parse.error.empty(), row.host != nullptr) << row.text << ": " << parse.error;
        if (!row.host) continue;
        EXPECT_EQ(parse.address.host, row.host) << row.text;
        EXPECT_EQ(parse.address.port, row.port) << row.text;
        EXPECT_EQ(IsLoopbackHost(parse.address.host), row.loopback) << row.text;
    }
}

} // namespace
} // namespace tarnik::cli
