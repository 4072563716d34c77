// tarnik-page-fixture [[HOST:]PORT]: serves the three-port station of the page tests until
// SIGINT or SIGTERM, for scripts/check-page. Prints "URL <url>" once it serves.
#include "station_page_fixture.h"

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    using namespace tarnik::cli;
    const HttpAddressParse parse = ParseHttpAddress(argc > 1 ? argv[1] : "0");
    if (!parse.error.empty()) {
        std::fprintf(stderr, "tarnik-page-fixture: %s\n", parse.error.c_str());
        return 2;
    }
    // The server's threads inherit the blocked signals, so only sigwait below takes them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    std::string error;
    const auto page = StationPage::Start(parse.address, error);
    if (!page) {
        std::fprintf(stderr, "tarnik-page-fixture: %s\n", error.c_str());
        return 1;
    }
    testing::FillThreePortStation(*page);
    std::printf("URL %s\n", page->Url().c_str());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    return 0;
}
