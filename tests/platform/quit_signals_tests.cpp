// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "quit_signals.h"

#include <gtest/gtest.h>
#include <poll.h>

using kronvik::QuitSignalPipe;

namespace {

bool Readable(int descriptor)
{
    pollfd watched{descriptor, POLLIN, 0};
    return poll(&watched, 1, 0) == 1 && (watched.revents & POLLIN) != 0;
}

} // namespace

TEST(AQuitSignalPipe, turnsEachQuitSignalIntoInputAndGivesItsHandlingBack)
{
    struct Case
    {
        const char *name;
        int number;
    };
    for (const Case &test : {Case{"SIGTERM", SIGTERM}, Case{"SIGHUP", SIGHUP}}) {
        SCOPED_TRACE(test.name);
        {
            QuitSignalPipe pipe;
            ASSERT_GE(pipe.ReadDescriptor(), 0);
            EXPECT_FALSE(Readable(pipe.ReadDescriptor()));
            EXPECT_EQ(pipe.TakeSignal(), 0);
            // The process lives on: were the signal not caught, the test program would end here.
            ASSERT_EQ(raise(test.number), 0);
            EXPECT_TRUE(Readable(pipe.ReadDescriptor()));
            EXPECT_EQ(pipe.TakeSignal(), test.number);
            EXPECT_FALSE(Readable(pipe.ReadDescriptor()));
        }
        struct sigaction now
        {
        };
        ASSERT_EQ(sigaction(test.number, nullptr, &now), 0);
        EXPECT_EQ(now.sa_handler, SIG_DFL);
    }
}
