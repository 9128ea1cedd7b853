// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "no_display_guard.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace kronvik {

namespace {

const char *const kNoDisplayText =
        "kronvik: cannot open the window: no usable display.\n"
        "kronvik-cli dates pictures without one; see kronvik-cli --help.\n";

struct HeldMessage
{
    QtMsgType type;
    std::string category;
    std::string file;
    int line;
    std::string function;
    QString text;
};

std::vector<HeldMessage> g_heldMessages;
QtMessageHandler g_previousHandler = nullptr;

void HoldMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtFatalMsg) {
        // The only fatal message while the application object is made: no platform plugin
        // could be started. Ending here leaves Qt half made, so nothing of it may run again.
        std::fputs(kNoDisplayText, stderr);
        std::fflush(stderr);
        std::_Exit(1);
    }
    g_heldMessages.push_back({type, context.category ? context.category : "",
                              context.file ? context.file : "", context.line,
                              context.function ? context.function : "", text});
}

} // namespace

NoDisplayGuard::NoDisplayGuard()
{
    g_previousHandler = qInstallMessageHandler(HoldMessage);
}

NoDisplayGuard::~NoDisplayGuard()
{
    qInstallMessageHandler(g_previousHandler);
    for (const HeldMessage &held : g_heldMessages) {
        const QMessageLogContext context(held.file.c_str(), held.line, held.function.c_str(),
                                         held.category.c_str());
        qt_message_output(held.type, context, held.text);
    }
    g_heldMessages.clear();
}

} // namespace kronvik
