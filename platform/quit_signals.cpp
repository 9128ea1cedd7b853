// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "quit_signals.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace kronvik {

namespace {

// The write end of the live pipe, for the handler.
volatile sig_atomic_t g_writeEnd = -1;

extern "C" void WriteSignalNumber(int number)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(number);
    // A full pipe already holds a quit request; losing this byte loses nothing.
    [[maybe_unused]] const ssize_t written = write(g_writeEnd, &byte, 1);
    errno = savedErrno;
}

} // namespace

QuitSignalPipe::QuitSignalPipe()
{
    int ends[2];
    // Non-blocking at both ends: the handler must never wait, nor must the reader.
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_readEnd = ends[0];
    m_writeEnd = ends[1];
    g_writeEnd = m_writeEnd;
    struct sigaction action
    {
    };
    action.sa_handler = WriteSignalNumber;
    sigemptyset(&action.sa_mask);
    // System calls interrupted by the signal resume: the program's file work is not cut short.
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &m_previousTerm);
    sigaction(SIGHUP, &action, &m_previousHangUp);
}

QuitSignalPipe::~QuitSignalPipe()
{
    if (m_readEnd < 0)
        return;
    sigaction(SIGTERM, &m_previousTerm, nullptr);
    sigaction(SIGHUP, &m_previousHangUp, nullptr);
    g_writeEnd = -1;
    close(m_readEnd);
    close(m_writeEnd);
}

int QuitSignalPipe::TakeSignal()
{
    if (m_readEnd < 0)
        return 0;
    int last = 0;
    unsigned char bytes[64];
    ssize_t count = 0;
    while ((count = read(m_readEnd, bytes, sizeof bytes)) > 0)
        last = bytes[count - 1];
    return last;
}

} // namespace kronvik
