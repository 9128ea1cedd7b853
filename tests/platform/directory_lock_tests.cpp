// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "directory_lock.h"

#include "temp_dir.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>

using namespace kronvik;
using kronvik::test::TempDir;
namespace fs = std::filesystem;

namespace {

bool BecomesReady(int fd, int milliseconds)
{
    pollfd ready{fd, POLLIN, 0};
    return poll(&ready, 1, milliseconds) == 1;
}

// The lock another run would meet: a descriptor of its own on the same directory.
LockAttempt AnotherRunTries(const std::string &directory, LockMode mode)
{
    DirectoryLock other;
    EXPECT_TRUE(other.Open(directory));
    return other.TryLock(mode);
}

std::atomic<int> g_signalsSeen{0};

void CountSignal(int)
{
    ++g_signalsSeen;
}

} // namespace

TEST(ADirectoryLock, climbsToTheRootWhichIsItsOwnParent)
{
    TempDir dir;
    fs::create_directories(dir.Path() / "a/b");
    DirectoryLock lock, parent, expected;
    ASSERT_TRUE(lock.Open(dir / "a/b"));
    ASSERT_TRUE(parent.OpenParent(lock));
    ASSERT_TRUE(expected.Open(dir / "a"));
    EXPECT_EQ(parent.Identity(), expected.Identity());

    DirectoryLock root, aboveRoot;
    ASSERT_TRUE(root.Open("/"));
    ASSERT_TRUE(aboveRoot.OpenParent(root));
    EXPECT_EQ(aboveRoot.Identity(), root.Identity());
}

TEST(ADirectoryLockWait, endsWithTheLockOnceTheHolderReleasesIt)
{
    TempDir dir;
    const std::string path = dir.Path().string();
    DirectoryLock holder, waiter;
    ASSERT_TRUE(holder.Open(path) && waiter.Open(path));
    ASSERT_EQ(holder.TryLock(LockMode::Exclusive), LockAttempt::Taken);

    DirectoryLockWait wait(waiter, LockMode::Exclusive);
    ASSERT_GE(wait.ReadyDescriptor(), 0);
    EXPECT_FALSE(BecomesReady(wait.ReadyDescriptor(), 50)) << "ended while the lock was held";
    holder.Release();
    ASSERT_TRUE(BecomesReady(wait.ReadyDescriptor(), 10000));
    EXPECT_EQ(wait.Check(), LockAttempt::Taken);
    // The helper has ended; the lock stays with the waiting run.
    EXPECT_EQ(AnotherRunTries(path, LockMode::Shared), LockAttempt::Held);
}

TEST(ADirectoryLockWait, givenUpNeverTakesTheLockLater)
{
    TempDir dir;
    const std::string path = dir.Path().string();
    DirectoryLock holder, waiter;
    ASSERT_TRUE(holder.Open(path) && waiter.Open(path));
    ASSERT_EQ(holder.TryLock(LockMode::Exclusive), LockAttempt::Taken);
    {
        DirectoryLockWait wait(waiter, LockMode::Exclusive);
    }
    holder.Release();
    // A helper left behind would take the lock for the open directory the waiter still holds.
    usleep(50000);
    EXPECT_EQ(AnotherRunTries(path, LockMode::Exclusive), LockAttempt::Taken);
}

TEST(AWaitUntilSignal, endsWithTheLockOrOnTheSignalThatAsksToStop)
{
    struct sigaction action
    {
    };
    action.sa_handler = CountSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    struct sigaction previous
    {
    };
    sigaction(SIGUSR1, &action, &previous);

    TempDir dir;
    const std::string path = dir.Path().string();
    DirectoryLock holder, waiter;
    ASSERT_TRUE(holder.Open(path) && waiter.Open(path));
    ASSERT_EQ(holder.TryLock(LockMode::Exclusive), LockAttempt::Taken);
    const auto stop = [] { return g_signalsSeen > 0; };

    // Asked before the wait: no wait at all.
    g_signalsSeen = 1;
    EXPECT_FALSE(WaitForLockUntilSignal(waiter, LockMode::Exclusive, {SIGUSR1}, stop));

    // Asked during the wait, by a signal aimed at the waiting thread.
    g_signalsSeen = 0;
    const pthread_t waiting = pthread_self();
    std::thread signaller([waiting] {
        usleep(50000);
        pthread_kill(waiting, SIGUSR1);
    });
    EXPECT_FALSE(WaitForLockUntilSignal(waiter, LockMode::Exclusive, {SIGUSR1}, stop));
    signaller.join();
    EXPECT_EQ(g_signalsSeen, 1);
    EXPECT_EQ(AnotherRunTries(path, LockMode::Shared), LockAttempt::Held) << "holder's lock gone";

    // Released during the wait: it ends with the lock.
    g_signalsSeen = 0;
    std::thread releaser([&holder] {
        usleep(50000);
        holder.Release();
    });
    EXPECT_TRUE(WaitForLockUntilSignal(waiter, LockMode::Exclusive, {SIGUSR1}, stop));
    releaser.join();
    EXPECT_EQ(AnotherRunTries(path, LockMode::Shared), LockAttempt::Held);
    sigaction(SIGUSR1, &previous, nullptr);
}
