// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <type_traits>

namespace kronvik {

// The thread a pass's journal is written on, so that the pass dates its pictures while the rows
// of the next ones are committed. Work runs one at a time, in the order posted; whoever posts
// uses the journal through it only, and learns of a failure from the future it was given.
class JournalThread
{
public:
    JournalThread();
    // Runs what was posted, then stops.
    ~JournalThread();
    JournalThread(const JournalThread &) = delete;
    JournalThread &operator=(const JournalThread &) = delete;

    template<typename Work>
    std::future<std::invoke_result_t<Work &>> Post(Work work)
    {
        using Result = std::invoke_result_t<Work &>;
        auto promise = std::make_shared<std::promise<Result>>();
        std::future<Result> future = promise->get_future();
        Push([promise, work = std::move(work)]() mutable {
            try {
                if constexpr (std::is_void_v<Result>) {
                    work();
                    promise->set_value();
                } else {
                    promise->set_value(work());
                }
            } catch (...) {
                promise->set_exception(std::current_exception());
            }
        });
        return future;
    }

    // Posts `work` and waits for it: its result, or its exception.
    template<typename Work>
    std::invoke_result_t<Work &> Call(Work work)
    {
        return Post(std::move(work)).get();
    }

private:
    void Push(std::function<void()> work);
    void Run(std::stop_token stop);

    std::mutex m_mutex;
    std::condition_variable_any m_posted;
    std::deque<std::function<void()>> m_work;
    std::jthread m_thread; // last: it starts once the rest is made
};

} // namespace kronvik
