// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "journal_thread.h"

namespace kronvik {

JournalThread::JournalThread()
    : m_thread([this](std::stop_token stop) { Run(stop); })
{
}

JournalThread::~JournalThread()
{
    m_thread.request_stop();
    m_thread.join();
}

void JournalThread::Push(std::function<void()> work)
{
    {
        const std::lock_guard lock(m_mutex);
        m_work.push_back(std::move(work));
    }
    m_posted.notify_one();
}

void JournalThread::Run(std::stop_token stop)
{
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(m_mutex);
            // A stop still runs the work posted before it: rows waited for are committed.
            m_posted.wait(lock, stop, [this] { return !m_work.empty(); });
            if (m_work.empty())
                return;
            work = std::move(m_work.front());
            m_work.pop_front();
        }
        work();
    }
}

} // namespace kronvik
