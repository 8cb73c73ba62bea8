#include "cli/interrupt_watch.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>

namespace vox::cli {
namespace {

std::atomic<int> g_ownHandlerCalls{0};
extern "C" void OwnHandler(int) {
    ++g_ownHandlerCalls;
}

void (*HandlerOf(int signal))(int) {
    struct sigaction current {};
    ::sigaction(signal, nullptr, &current);
    return current.sa_handler;
}

// SIGUSR1 and SIGUSR2 stand for Ctrl+C and SIGTERM, which the test runner may use itself.
TEST(InterruptWatch, TakesTheSignalOnceAndGivesTheHandlersBack) {
    struct sigaction own {};
    own.sa_handler = OwnHandler;
    sigemptyset(&own.sa_mask);
    struct sigaction before1 {
    }, before2{};
    ASSERT_EQ(::sigaction(SIGUSR1, &own, &before1), 0);
    ::sigaction(SIGUSR2, nullptr, &before2);

    for (int round = 0; round < 2; ++round) {  // a second watch starts unraised
        InterruptWatch watch({SIGUSR1, SIGUSR2});
        EXPECT_FALSE(watch.Raised());
        ::raise(round == 0 ? SIGUSR1 : SIGUSR2);
        EXPECT_TRUE(watch.Raised());
        EXPECT_TRUE(watch.Flag().load());
        EXPECT_EQ(g_ownHandlerCalls, 0);
        // Taken once: the next one would end the process.
        EXPECT_EQ(HandlerOf(round == 0 ? SIGUSR1 : SIGUSR2), SIG_DFL);
    }
    EXPECT_EQ(HandlerOf(SIGUSR1), &OwnHandler);
    EXPECT_EQ(HandlerOf(SIGUSR2), before2.sa_handler);
    ::raise(SIGUSR1);
    EXPECT_EQ(g_ownHandlerCalls, 1);
    ::sigaction(SIGUSR1, &before1, nullptr);
}

}  // namespace
}  // namespace vox::cli
