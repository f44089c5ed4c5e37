#include "MainThread.h"

#include <gtest/gtest.h>

#include <thread>

// The main-thread checks must really run in the builds the tests use, optimised ones included.
TEST(MainThreadDeathTest, ACheckOffTheMainThreadStopsTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_TRUE(OnMainThread());
    EXPECT_DEATH(
        {
            std::thread worker([] { VC_ASSERT_MAIN_THREAD(); });
            worker.join();
        },
        "called outside the main thread");
}
