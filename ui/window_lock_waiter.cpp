// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "window_lock_waiter.h"

#include "quorvel_dlg.h"

#include <QCoreApplication>
#include <QDialog>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>

namespace kronvik {

namespace {

// How soon to try again where no descriptor tells the end of the wait.
constexpr int kRetryMilliseconds = 100;

} // namespace

WindowLockWaiter::WindowLockWaiter(CQuorvelDlg &window, QLabel &fileLabel)
    : m_window(window)
    , m_fileLabel(fileLabel)
{
}

bool WindowLockWaiter::WaitForLock(const std::string &directory, DirectoryLock &lock, LockMode mode)
{
    const QString shown = m_fileLabel.text();
    m_fileLabel.setText(QStringLiteral("Waiting for another Kronvik pass in %1...")
                                .arg(QFile::decodeName(QByteArray::fromStdString(directory))));

    QEventLoop loop;
    bool closed = false;
    const auto close = [&] {
        closed = true;
        loop.quit();
    };
    QObject::connect(&m_window, &QDialog::finished, &loop, close);
    QObject::connect(&m_window, &CQuorvelDlg::quitRequested, &loop, close);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &loop, close);

    DirectoryLockWait wait(lock, mode);
    for (LockAttempt attempt = LockAttempt::Held; attempt == LockAttempt::Held && !closed;) {
        std::unique_ptr<QSocketNotifier> ready;
        if (wait.ReadyDescriptor() >= 0) {
            ready = std::make_unique<QSocketNotifier>(wait.ReadyDescriptor(),
                                                      QSocketNotifier::Read);
            QObject::connect(ready.get(), &QSocketNotifier::activated, &loop, &QEventLoop::quit);
        } else {
            QTimer::singleShot(kRetryMilliseconds, &loop, &QEventLoop::quit);
        }
        loop.exec();
        // Before the check, which closes the descriptor the notifier watches.
        ready.reset();
        if (!closed)
            attempt = wait.Check();
    }
    m_fileLabel.setText(shown);
    return !closed;
}

} // namespace kronvik
