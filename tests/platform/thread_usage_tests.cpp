// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "local_clock.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace kronvik;

// The read-ahead tells a read that waited for the disk from one whose core another thread took
// by these two counts: a thread that sleeps gives up its core, one that computes does not.
TEST(AThreadUsage, countsTheWaitsItChoseApartFromItsProcessorTime)
{
    const ThreadUsage start = ReadThreadUsage();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const ThreadUsage slept = ReadThreadUsage();
    EXPECT_GE(slept.waits, start.waits + 1);
    EXPECT_LT(slept.cpuNanoseconds - start.cpuNanoseconds, 10'000'000)
            << "a sleep computes nothing";

    volatile std::uint64_t sum = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
    while (std::chrono::steady_clock::now() < until)
        sum = sum + 1;
    const ThreadUsage computed = ReadThreadUsage();
    EXPECT_GE(computed.cpuNanoseconds - slept.cpuNanoseconds, 5'000'000)
            << "30 ms of computing, even on a busy machine";
    EXPECT_EQ(computed.waits, slept.waits) << "a thread that computes waits for nothing";
}
