// The station page of a real run: tarnik-cli --http with three units on tarnik-sim, the page
// read over HTTP while the units run and after they ended (a --repeat round waiting on stdin).
#include <httplib.h>

#include "support/child_process.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tarnik::testing {
namespace {

using nlohmann::json;

// The "station page: URL" line tarnik-cli prints on stderr, read from the file it goes to.
std::string WaitForUrl(const std::filesystem::path& err) {
    const std::string mark = "station page: ";
    for (int i = 0; i < 200; ++i) {
        const std::string text = ReadFile(err);
        if (const std::size_t at = text.find(mark); at != std::string::npos)
            if (const std::size_t end = text.find('\n', at); end != std::string::npos)
                return text.substr(at + mark.size(), end - at - mark.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return {};
}

TEST(CliPage, FollowsThreeUnitsLiveAndKeepsTheirEndAcrossTheWaitForTheNextRound) {
    TempDir dir;
    const std::string image = WritePatternImage(dir / "image.bin", 2, 40, true);
    SimProcess slow({"--type", "2", "--image", image, "--serial", "0000A1F0", "--wire"},
                    TARNIK_SIM_PATH);
    SimProcess hangup({"--type", "2", "--image", image, "--hangup-at-record", "2"},
                      TARNIK_SIM_PATH);
    SimProcess good({"--type", "2", "--image", image, "--serial", "0000A1F2"}, TARNIK_SIM_PATH);
    ASSERT_FALSE(slow.Pty().empty() || hangup.Pty().empty() || good.Pty().empty());
    // A port whose name is markup: the page must carry it as a text like any other.
    const std::string hostile = "<img src=x onerror=alert(1)>";
    std::filesystem::create_symlink(good.Pty(), dir / hostile);
    // An earlier unit in the log: listed last, and not counted today.
    const std::string log = (dir / "results.jsonl").string();
    WriteFile(log, R"({"time":"2020-01-02T10:00:00+01:00","port":"/dev/ttyUSB9","unit_type":2,)"
                   R"("serial":"0000A100","exit_status":5380,"outcome":"failed","status":)"
                   R"("Process status: An error occurred. Connection establishment"})"
                   "\nnot a result\n");
    const std::string fifo = (dir / "next").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ChildProcess cli("/bin/sh",
                     {"-c", "exec \"$0\" \"$@\" <\"" + fifo + "\"", TARNIK_CLI_PATH, "--repeat",
                      "--http=127.0.0.1:0", "--port=" + slow.Pty(), "--port=" + hangup.Pty(),
                      "--port=" + (dir / hostile).string(), "--serial=0000A1F0", "--log=" + log,
                      "P=" + image},
                     (dir / "err").string());
    const int next = open(fifo.c_str(), O_WRONLY); // the run waits on this for its next round
    ASSERT_GE(next, 0);
    const std::string url = WaitForUrl(dir / "err");
    ASSERT_EQ(url.rfind("http://127.0.0.1:", 0), 0u) << ReadFile(dir / "err");
    httplib::Client client(url.substr(0, url.size() - 1));
    const auto get = [&client](const std::string& path) {
        const auto response = client.Get(path);
        return response && response->status == 200 ? json::parse(response->body) : json();
    };

    json status;
    bool seenRunning = false;
    for (int i = 0; i < 1200; ++i) {
        status = get("/api/status");
        const json& ports = status["ports"];
        if (ports.size() == 3 && ports[0]["state"] == "running" && ports[0]["percent"] > 0) {
            seenRunning = true;
            EXPECT_EQ(ports[0]["serial"], "0000A1F0");
            EXPECT_EQ(ports[0]["unit_type"], 2);
            EXPECT_FALSE(ports[0]["step"].get<std::string>().empty()) << status;
        }
        if (ports.size() == 3 && std::none_of(ports.begin(), ports.end(), [](const json& port) {
                return port["state"] == "running" || port["state"] == "waiting";
            }))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(seenRunning) << status;
    // The round has ended; the page still serves while the run waits for the next one.
    status = get("/api/status");
    const struct {
        std::string port, state, serial, step, status;
    } expected[] = {
        {slow.Pty().substr(5), "programmed", "0000A1F0", "Ending process",
         "Process status: Ending process"},
        {hangup.Pty().substr(5), "failed", "0000A1F1", "Programming ...",
         "Process status: An error occurred. Programming ..."},
        {(dir / hostile).string(), "programmed", "0000A1F2", "Ending process",
         "Process status: Ending process"},
    };
    ASSERT_EQ(status["ports"].size(), 3u) << status;
    for (std::size_t i = 0; i < 3; ++i) {
        const json& port = status["ports"][i];
        EXPECT_EQ(port["port"], expected[i].port) << port;
        EXPECT_EQ(port["state"], expected[i].state) << port;
        EXPECT_EQ(port["serial"], expected[i].serial) << port;
        EXPECT_EQ(port["step"], expected[i].step) << port;
        EXPECT_EQ(port["status"], expected[i].status) << port;
    }
    EXPECT_EQ(status["totals"]["units"], 3);
    EXPECT_EQ(status["totals"]["programmed"], 2);
    EXPECT_EQ(status["totals"]["failed_by_step"],
              json::parse(R"([{"step":"Programming ...","units":1}])"));
    const json results = get("/api/results?limit=10")["results"];
    ASSERT_EQ(results.size(), 4u) << results;
    EXPECT_EQ(results[3]["serial"], "0000A100"); // the log's earlier unit comes last
    EXPECT_EQ(results[3]["step"], "Connection establishment");
    const auto page = client.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body.find(hostile), std::string::npos); // values never go into the markup

    close(next); // no next round: the run ends, and the page with it
    EXPECT_EQ(cli.Wait(30000), 1) << ReadFile(dir / "err");
    EXPECT_FALSE(client.Get("/api/status"));
    EXPECT_EQ(slow.Wait(), 0);
}

TEST(CliPage, AnAddressThatCannotBeServedEndsTheRunBeforeAnyPortIsOpened) {
    TempDir dir;
    const std::string image = WritePatternImage(dir / "image.bin", 2, 1);
    for (const std::string address : {"127.0.0.1:65536", "::1:80", "localhost"}) {
        const ProgramResult r =
            RunProgram(TARNIK_CLI_PATH, {"--http=" + address, "--port=/dev/null", "P=" + image});
        EXPECT_EQ(r.exitCode, 2) << address << r.err;
        EXPECT_NE(r.err.find("--http=" + address + ": "), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("cannot open port"), std::string::npos) << r.err;
    }
}

} // namespace
} // namespace tarnik::testing
