// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <getopt.h>

namespace kronvik {

const char *const kCliUsage =
        "Usage: kronvik-cli [OPTION]... SOURCE...\n"
        "Renames the JPEG pictures of the SOURCE directories after the moment they were taken,\n"
        "as their EXIF data records it, and sets their modification time to that moment.\n"
        "\n"
        "  Each SOURCE is a directory or a source directory list (\"DIR1;DIR2\"); all are joined\n"
        "  with \";\" in order.\n"
        "  -r, --recurse           search subdirectories too (the default)\n"
        "  -R, --no-recurse        search only the directories given\n"
        "  -t, --time-adjust=H     shift the EXIF dates of each picture by H whole hours first\n"
        "                          (default 0)\n"
        "  -l, --log-dir=DIR       at the end, write the run log to DIR/Kronvik.log as the window\n"
        "                          does on closing (an empty DIR means ~/.local/state/kronvik)\n"
        "  -q, --quiet             print no run-log lines\n"
        "      --help              show this help and exit\n"
        "      --version           show the version and exit\n"
        "\n"
        "Exit status: 0 when every picture was dated or passed over, 1 when a rename was refused,\n"
        "2 for a usage error, 3 when a file error ended the run, 130 when interrupted.\n";

bool ParseHours(const std::string &text, int &hours)
{
    if (text.empty())
        return false;
    std::size_t at = (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (at == text.size())
        return false;
    for (std::size_t i = at; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
    }
    errno = 0;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return false;
    hours = static_cast<int>(value);
    return true;
}

CliParse ParseCliOptions(int argc, char **argv, CliOptions &options, std::string &error)
{
    enum { kHelp = 1000, kVersion };
    static const option kLongOptions[] = {
            {"recurse", no_argument, nullptr, 'r'},
            {"no-recurse", no_argument, nullptr, 'R'},
            {"time-adjust", required_argument, nullptr, 't'},
            {"log-dir", required_argument, nullptr, 'l'},
            {"quiet", no_argument, nullptr, 'q'},
            {"help", no_argument, nullptr, kHelp},
            {"version", no_argument, nullptr, kVersion},
            {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    optind = 1;
    int option;
    while ((option = getopt_long(argc, argv, ":rRt:l:q", kLongOptions, nullptr)) != -1) {
        switch (option) {
        case 'r':
            options.recurse = true;
            break;
        case 'R':
            options.recurse = false;
            break;
        case 't':
            if (!ParseHours(optarg, options.timeAdjust)) {
                error = std::string("the time adjustment must be a whole number of hours: '")
                        + optarg + "'";
                return CliParse::UsageError;
            }
            break;
        case 'l':
            options.writeLog = true;
            options.logDirectory = optarg;
            break;
        case 'q':
            options.quiet = true;
            break;
        case kHelp:
            return CliParse::Help;
        case kVersion:
            return CliParse::Version;
        case ':':
            error = std::string("option '") + argv[optind - 1] + "' needs a value";
            return CliParse::UsageError;
        default:
            error = std::string("unknown option '") + argv[optind - 1] + "'";
            return CliParse::UsageError;
        }
    }
    if (optind >= argc) {
        error = "no SOURCE directory given";
        return CliParse::UsageError;
    }
    for (int i = optind; i < argc; ++i) {
        if (!options.sources.empty())
            options.sources += ';';
        options.sources += argv[i];
    }
    return CliParse::Run;
}

} // namespace kronvik
