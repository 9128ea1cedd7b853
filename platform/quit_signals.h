// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <signal.h>

namespace kronvik {

// SIGTERM and SIGHUP turned into input. While an object of this class lives, each of the two
// signals, instead of ending the process, writes its number as one byte to a pipe whose read end
// an event loop can watch; the handler does nothing else, so no library call runs inside it.
// Only one object may live at a time. When the pipe cannot be made, the signals keep their
// previous handling and ReadDescriptor() is -1.
class QuitSignalPipe
{
public:
    QuitSignalPipe();
    ~QuitSignalPipe();
    QuitSignalPipe(const QuitSignalPipe &) = delete;
    QuitSignalPipe &operator=(const QuitSignalPipe &) = delete;

    // Becomes readable when a signal has arrived.
    int ReadDescriptor() const { return m_readEnd; }
    // Empties the pipe and returns the number of the last signal that arrived, 0 when none did.
    int TakeSignal();

private:
    int m_readEnd = -1;
    int m_writeEnd = -1;
    struct sigaction m_previousTerm
    {
    };
    struct sigaction m_previousHangUp
    {
    };
};

} // namespace kronvik
