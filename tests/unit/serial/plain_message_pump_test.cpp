#include "tools/plain_message_pump.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace tarnik {
namespace {

using namespace std::chrono_literals;

TEST(PlainPumpTest, CallOnTheMainThreadRunsAtOnce) {
    PlainMessagePump pump;
    bool ran = false;
    pump.callSync([&] { ran = true; });
    EXPECT_TRUE(ran);
    EXPECT_EQ(pump.Pending(), 0u);
}

TEST(PlainPumpTest, CallFromAnotherThreadWaitsForTheMainThread) {
    PlainMessagePump pump;
    std::thread::id ranOn;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        pump.callSync([&] { ranOn = std::this_thread::get_id(); });
        returned = true;
    });
    ASSERT_TRUE(pump.WaitForWork(10s));
    EXPECT_FALSE(returned); // blocked until the main thread runs the call
    pump.processMessages();
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(PlainPumpTest, FailureOfTheCallReachesTheCaller) {
    PlainMessagePump pump;
    bool caught = false;
    std::thread worker([&] {
        try {
            pump.callSync([] { throw std::runtime_error("call failed"); });
        } catch (const std::runtime_error&) {
            caught = true;
        }
    });
    while (!pump.WaitForWork(50ms)) {
    }
    pump.processMessages(); // the failure does not escape here
    worker.join();
    EXPECT_TRUE(caught);
}

TEST(PlainPumpTest, WaitForWorkEndsOnWakeOrTimeOut) {
    PlainMessagePump pump;
    EXPECT_FALSE(pump.WaitForWork(1ms));
    std::thread waker([&] { pump.Wake(); });
    EXPECT_FALSE(pump.WaitForWork(60s)); // woken, nothing to do
    waker.join();
}

} // namespace
} // namespace tarnik
