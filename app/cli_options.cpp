// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

namespace kronvik {

const char *const kCliUsage =
        "Usage: kronvik-cli [OPTION]... SOURCE...\n"
        "  or:  kronvik-cli --undo [PASS]\n"
        "  or:  kronvik-cli --history [PASS]\n"
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
        "                          does on closing (an empty DIR means the journal's folder)\n"
        "  -q, --quiet             print no run-log lines\n"
        "  -n, --dry-run           print the run-log lines the run would print and change\n"
        "                          nothing: no rename, no time set, no byte written, no\n"
        "                          journal entry; the exit status is the run's\n"
        "      --no-journal        date without recording the changes in the journal, so the\n"
        "                          pass cannot be undone (for a journal that cannot be used);\n"
        "                          with -t, pictures shifted before are shifted again\n"
        "      --reshift           shift the EXIF dates by -t's hours even where a journaled\n"
        "                          pass shifted them by those hours already\n"
        "      --undo[=PASS]       take back every change of the journaled pass PASS (by\n"
        "                          default the last one that is not itself an undo, or the\n"
        "                          last over its folders that changed something): names,\n"
        "                          EXIF dates and modification times; a picture renamed,\n"
        "                          moved or changed since is left as it is\n"
        "      --history[=PASS]    list the journaled passes, newest first, or the changes of\n"
        "                          PASS\n"
        "  -h, --help              show this help and exit\n"
        "      --version           show the version and exit\n"
        "\n"
        "A directory that cannot be searched, or only in part, is named on standard error and\n"
        "the search goes on. The journal of passes is ~/.local/state/kronvik/journal.sqlite3\n"
        "($XDG_STATE_HOME/kronvik when that is set). Every change of a pass is recorded there\n"
        "before it is made; a pass that was killed is taken back where it was left half done\n"
        "before the next pass over its directories searches them.\n"
        "\n"
        "Exit status: 0 when every picture was dated or passed over (--undo: restored), 1 when\n"
        "a rename was refused, a directory could not be searched or a folder or picture was\n"
        "left out because another pass holds it (--undo: a picture was left as it is, or the\n"
        "pass was already undone), 2 for a usage error, an unknown PASS, or no pass to undo\n"
        "(PASS is itself an undo, or the journal holds none), 3 when a file error ended the run\n"
        "or the journal cannot be used, 128 + the signal's number after Ctrl-C (130), SIGHUP\n"
        "(129), SIGTERM (143) or a closed output pipe (141), which during a pass finish the\n"
        "picture at hand and print the totals first. Of two, the higher wins. The options that\n"
        "change a pass (-r, -R, -t, --no-journal, --reshift) cannot be given with --undo or\n"
        "--history.\n";

const char *const kCliVersion =
        "kronvik-cli (Kronvik) " KRONVIK_VERSION_TEXT "\n"
        "Copyright (C) 2026 The Kronvik developers\n"
        "License GPL-2.0-or-later: GNU GPL version 2 or later "
        "<https://gnu.org/licenses/gpl.html>.\n"
        "This is free software: you are free to change and redistribute it.\n"
        "There is NO WARRANTY, to the extent permitted by law.\n";

namespace {

// The option getopt stopped at, as the user wrote it: a long option without its value, or one
// letter of a group of short options ("-x" of "-qx"). `argument` is the last element getopt
// stepped past; in the middle of a group that is an earlier element, so a long option there is
// the one meant only when it is unknown (`letter` 0) or its value is `letter`.
std::string OptionAsGiven(const char *argument, int letter, const option *longOptions)
{
    if (std::strncmp(argument, "--", 2) == 0) {
        const std::string name(argument + 2, std::strcspn(argument + 2, "="));
        if (letter == 0)
            return "--" + name;
        for (const option *known = longOptions; known->name; ++known) {
            if (name == known->name && known->val == letter)
                return "--" + name;
        }
    }
    return std::string("-") + static_cast<char>(letter);
}

} // namespace

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

bool ParsePassNumber(const std::string &text, std::int64_t &pass)
{
    if (text.empty() || text.size() > 18)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    pass = std::strtoll(text.c_str(), nullptr, 10);
    return pass > 0;
}

CliParse ParseCliOptions(int argc, char **argv, CliOptions &options, std::string &error)
{
    enum { kHelp = 1000, kVersion, kUndo, kHistory, kNoJournal, kReshift };
    static const option kLongOptions[] = {
            {"recurse", no_argument, nullptr, 'r'},
            {"no-recurse", no_argument, nullptr, 'R'},
            {"time-adjust", required_argument, nullptr, 't'},
            {"log-dir", required_argument, nullptr, 'l'},
            {"quiet", no_argument, nullptr, 'q'},
            {"dry-run", no_argument, nullptr, 'n'},
            {"no-journal", no_argument, nullptr, kNoJournal},
            {"reshift", no_argument, nullptr, kReshift},
            {"help", no_argument, nullptr, kHelp},
            {"version", no_argument, nullptr, kVersion},
            {"undo", optional_argument, nullptr, kUndo},
            {"history", optional_argument, nullptr, kHistory},
            {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    optind = 1;
    // The first option given that only a dating pass uses: an undo or a listing would pass it
    // over, and the user would take it for done ("--undo --no-journal" journals the undo).
    std::string passOption;
    const auto passOnly = [&](int letter) {
        for (const option *known = kLongOptions; passOption.empty() && known->name; ++known)
            if (known->val == letter)
                passOption = std::string("--") + known->name;
    };
    int option;
    while ((option = getopt_long(argc, argv, ":rRt:l:qnh", kLongOptions, nullptr)) != -1) {
        switch (option) {
        case 'r':
            options.recurse = true;
            passOnly(option);
            break;
        case 'R':
            options.recurse = false;
            passOnly(option);
            break;
        case 't':
            passOnly(option);
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
        case 'n':
            options.dryRun = true;
            break;
        case kNoJournal:
            passOnly(option);
            options.journal = false;
            break;
        case kReshift:
            passOnly(option);
            options.reshift = true;
            break;
        case 'h':
        case kHelp:
            return CliParse::Help;
        case kVersion:
            return CliParse::Version;
        case kUndo:
        case kHistory: {
            const CliMode mode = option == kUndo ? CliMode::Undo : CliMode::History;
            if (options.mode != CliMode::Date && options.mode != mode) {
                error = "--undo and --history cannot be given together";
                return CliParse::UsageError;
            }
            options.mode = mode;
            if (optarg && !ParsePassNumber(optarg, options.pass)) {
                error = std::string("not a pass number: '") + optarg + "'";
                return CliParse::UsageError;
            }
            break;
        }
        case ':':
            error = "option '" + OptionAsGiven(argv[optind - 1], optopt, kLongOptions)
                    + "' needs a value";
            return CliParse::UsageError;
        default: {
            const std::string given = OptionAsGiven(argv[optind - 1], optopt, kLongOptions);
            // A known long option can only have come here with a value it does not take.
            if (optopt != 0 && given.compare(0, 2, "--") == 0)
                error = "option '" + given + "' takes no value";
            else
                error = "unknown option '" + given + "'";
            return CliParse::UsageError;
        }
        }
    }
    if (options.mode == CliMode::Undo && options.dryRun) {
        // An undo has no preview: it would be made while the user asked for nothing to change.
        error = "--dry-run cannot be given with --undo";
        return CliParse::UsageError;
    }
    if (options.mode != CliMode::Date) {
        const char *name = options.mode == CliMode::Undo ? "--undo" : "--history";
        if (!passOption.empty()) {
            error = passOption + " cannot be given with " + name;
            return CliParse::UsageError;
        }
        // The PASS may also follow as an argument of its own: "--undo 7".
        if (optind < argc && options.pass == 0) {
            if (!ParsePassNumber(argv[optind], options.pass)) {
                error = std::string("not a pass number: '") + argv[optind] + "'";
                return CliParse::UsageError;
            }
            ++optind;
        }
        if (optind < argc) {
            error = std::string(name) + " takes one PASS at most, and no SOURCE";
            return CliParse::UsageError;
        }
        return CliParse::Run;
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
