// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "write_faults.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace kronvik {

namespace {

struct ArmedFault
{
    WriteStep step;
    int error;
    unsigned after;
    std::function<void()> action;
};

std::atomic<bool> g_armed{false};
std::mutex g_mutex;
std::vector<ArmedFault> g_faults; // guarded by g_mutex

} // namespace

void FailWriteStep(WriteStep step, int error, unsigned after)
{
    const std::lock_guard lock(g_mutex);
    g_faults.push_back({step, error, after, {}});
    g_armed.store(true, std::memory_order_release);
}

void BeforeWriteStep(WriteStep step, std::function<void()> action, unsigned after)
{
    const std::lock_guard lock(g_mutex);
    g_faults.push_back({step, 0, after, std::move(action)});
    g_armed.store(true, std::memory_order_release);
}

void ClearWriteFaults()
{
    const std::lock_guard lock(g_mutex);
    g_faults.clear();
    g_armed.store(false, std::memory_order_release);
}

int WriteFault(WriteStep step)
{
    if (!g_armed.load(std::memory_order_relaxed))
        return 0;
    std::unique_lock lock(g_mutex);
    for (auto fault = g_faults.begin(); fault != g_faults.end(); ++fault) {
        if (fault->step != step)
            continue;
        if (fault->after > 0) {
            --fault->after;
            return 0;
        }
        const int error = fault->error;
        const std::function<void()> action = std::move(fault->action);
        g_faults.erase(fault);
        g_armed.store(!g_faults.empty(), std::memory_order_release);
        // The action may itself reach a step of this layer.
        lock.unlock();
        if (action)
            action();
        return error;
    }
    return 0;
}

} // namespace kronvik
