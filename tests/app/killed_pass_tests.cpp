// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// kronvik-cli killed with SIGKILL at random moments of its pass, as a power cut or the OOM killer
// ends it: whenever it dies, every picture is still there once, under its own name or the name of
// its date, with its own bytes or with its date pair shifted whole, and nothing else is left.
//
// The moments are drawn from a seed, so a failing run can be repeated: KRONVIK_KILLED_PASS_SEED
// sets it (the failure names it). KRONVIK_KILLED_PASSES sets how many runs both tests make
// together (80 unless set; 1000 for the long run the README names).
#include "jpeg_fixture.h"
#include "temp_dir.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kronvik::test;
using namespace std::chrono;
namespace fs = std::filesystem;

namespace {

constexpr int kPictures = 200;
constexpr int kRunsByDefault = 80;
constexpr hours kShift{3};
// How long after the chosen line of the run log the kill may come, at most: a few pictures' time.
constexpr microseconds kLongestDelay{500};

int RunsPerTest()
{
    const char *runs = std::getenv("KRONVIK_KILLED_PASSES");
    const int total = runs ? std::atoi(runs) : kRunsByDefault;
    return std::max(1, total / 2);
}

unsigned Seed()
{
    const char *seed = std::getenv("KRONVIK_KILLED_PASS_SEED");
    return seed ? static_cast<unsigned>(std::strtoul(seed, nullptr, 10)) : 20260101u;
}

// A folder on a memory file system where there is one: the tests write 200 pictures per run.
fs::path FastParent()
{
    std::error_code error;
    return fs::is_directory("/dev/shm", error) && access("/dev/shm", W_OK) == 0
                   ? fs::path("/dev/shm")
                   : fs::temp_directory_path();
}

std::string Format(sys_seconds time, const char *format)
{
    const auto day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{time - day};
    char text[32];
    std::snprintf(text, sizeof text, format, static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

std::string ExifDate(sys_seconds time)
{
    return Format(time, "%04d:%02u:%02u %02d:%02d:%02d");
}

std::string DatedName(sys_seconds time)
{
    return Format(time, "%04d-%02u-%02u %02d.%02d.%02d.JPG");
}

std::string OwnName(int index)
{
    char name[32];
    std::snprintf(name, sizeof name, "IMG_%04d.JPG", index);
    return name;
}

// The pictures of every run: one written with Exiv2, its date pair replaced in place for each of
// the others. Two pictures of every three share their date with a neighbour, so that a pass also
// refuses names.
struct Tree
{
    std::vector<sys_seconds> taken;
    std::vector<std::string> bytes;
    std::vector<std::string> shifted; // with the date pair moved by kShift

    Tree()
    {
        TempDir scratch;
        const sys_seconds first = sys_days{year{2005} / July / 14} + 10h;
        const std::string path = scratch / "model.jpg";
        WriteJpegWithExif(path, {{"Exif.Photo.DateTimeOriginal", ExifDate(first)},
                                 {"Exif.Photo.DateTimeDigitized", ExifDate(first)}});
        const std::string model = ReadBytes(path);
        const std::string pair = DateString(ExifDate(first)) + DateString(ExifDate(first));
        const std::size_t at = model.find(pair);
        if (at == std::string::npos
            || model.find(DateString(ExifDate(first)), at + 40) != std::string::npos)
            throw std::runtime_error("the model picture holds its date other than as one pair");
        for (int i = 0; i < kPictures; ++i) {
            taken.push_back(first + seconds{7 * (i * 2 / 3)});
            const auto withDate = [&](sys_seconds time) {
                const std::string date = DateString(ExifDate(time));
                return std::string(model).replace(at, 40, date + date);
            };
            bytes.push_back(withDate(taken.back()));
            shifted.push_back(withDate(taken.back() + kShift));
        }
    }

    // Writes every picture under its own name; returns each file's inode and index.
    std::map<ino_t, int> Write(const fs::path &directory) const
    {
        std::map<ino_t, int> inodes;
        for (int i = 0; i < kPictures; ++i) {
            const std::string path = (directory / OwnName(i)).string();
            WriteBytes(path, bytes[i]);
            struct stat status
            {
            };
            if (stat(path.c_str(), &status) == 0)
                inodes[status.st_ino] = i;
        }
        return inodes;
    }
};

const Tree &TheTree()
{
    static const Tree tree;
    return tree;
}

// What the tool keeps of its own (settings, logs, anything it records of its passes) goes to a
// folder of the tests, never to the home of whoever runs them. Called in the child, after the
// folder was made in the test.
void UseScratchHomes(const TempDir &homes)
{
    setenv("XDG_CONFIG_HOME", (homes / "config").c_str(), 1);
    setenv("XDG_STATE_HOME", (homes / "state").c_str(), 1);
    setenv("TZ", "UTC", 1);
}

const TempDir &ScratchHomes()
{
    static const TempDir homes;
    return homes;
}

// Starts kronvik-cli with `args`, reads its run log as it comes, and kills it once it has
// printed `lines` lines and `delay` has passed after that (or at its end, if that comes first).
void RunAndKill(const std::vector<std::string> &args, int lines, microseconds delay)
{
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("no pipe");
    std::vector<char *> argv{const_cast<char *>(KRONVIK_CLI_PATH)};
    for (const auto &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    const TempDir &homes = ScratchHomes();
    const pid_t child = fork();
    if (child == 0) {
        UseScratchHomes(homes);
        dup2(out[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDERR_FILENO);
        execv(KRONVIK_CLI_PATH, argv.data());
        _exit(127);
    }
    close(out[1]);
    char buffer[4096];
    for (int seen = 0; seen < lines;) {
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        seen += static_cast<int>(std::count(buffer, buffer + got, '\n'));
    }
    // Spun rather than slept: a sleep lasts at least a scheduler tick, longer than a picture.
    for (const auto end = steady_clock::now() + delay; steady_clock::now() < end;) { }
    kill(child, SIGKILL);
    close(out[0]);
    waitpid(child, nullptr, 0);
}

// Runs kronvik-cli with `args` to its end, its standard output into `out` (discarded when -1);
// gives its exit status.
int RunToItsEnd(const std::vector<std::string> &args, int out = -1)
{
    std::vector<char *> argv{const_cast<char *>(KRONVIK_CLI_PATH)};
    for (const auto &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    const TempDir &homes = ScratchHomes();
    const pid_t child = fork();
    if (child == 0) {
        UseScratchHomes(homes);
        const int null = open("/dev/null", O_WRONLY);
        dup2(out >= 0 ? out : null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execv(KRONVIK_CLI_PATH, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs kronvik-cli over `directory` to its end; gives its exit status.
int RunToTheEnd(const std::string &directory)
{
    return RunToItsEnd({directory});
}

// Runs kronvik-cli --undo to its end: it recovers what the last pass left half done and takes
// back what it made.
void UndoTheLastPass()
{
    RunToItsEnd({"--undo"});
}

std::string OutputOf(const std::vector<std::string> &args)
{
    const TempDir scratch;
    const std::string path = scratch / "out";
    const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    RunToItsEnd(args, out);
    close(out);
    return ReadBytes(path);
}

// The history lists the killed pass with as many pictures dated as it keeps renames done: the
// counters go with the marks, and the renames not marked are the ones its recovery takes back.
// Empty when so (or when the pass was killed before its row), else the problem.
std::string CheckListedAsItsRenames(const fs::path &directory)
{
    std::istringstream passes(OutputOf({"--history"}));
    for (std::string line; std::getline(passes, line);) {
        const std::size_t dated = line.find(" dated, ");
        if (line.find("  " + directory.string() + "  ") == std::string::npos
            || dated == std::string::npos)
            continue;
        const int listed = std::stoi(line.substr(line.rfind("  ", dated) + 2));
        std::istringstream changes(OutputOf({"--history", std::to_string(std::stol(line))}));
        int renames = 0;
        for (std::string change; std::getline(changes, change);)
            renames += change.find("  done        rename  ") != std::string::npos;
        if (listed != renames)
            return line + " where " + std::to_string(renames) + " renames are done";
        return "";
    }
    return "";
}

// After the undo of a killed pass: every picture under its own name, with its own bytes, and
// nothing else. Empty when so, else the first problems.
std::string CheckRestored(const fs::path &directory)
{
    const Tree &tree = TheTree();
    std::string problems;
    std::size_t entries = 0;
    for (const auto &entry : fs::directory_iterator(directory)) {
        (void)entry;
        ++entries;
    }
    if (entries != static_cast<std::size_t>(kPictures))
        problems += std::to_string(entries) + " entries; ";
    for (int i = 0; i < kPictures && problems.size() < 400; ++i) {
        const fs::path path = directory / OwnName(i);
        if (!fs::exists(path))
            problems += OwnName(i) + " missing; ";
        else if (ReadBytes(path.string()) != tree.bytes[i])
            problems += OwnName(i) + " does not hold its bytes; ";
    }
    return problems;
}

// What a killed pass may leave of each picture: its own inode once, with one name, holding its
// bytes (or, under an adjustment, its bytes with the date pair shifted), named as it was or after
// the date it holds; and no other entry. Empty when so, else the first problems.
std::string CheckEveryPictureOnce(const fs::path &directory, const std::map<ino_t, int> &inodes,
                                  bool adjusted)
{
    const Tree &tree = TheTree();
    std::string problems;
    std::set<int> seen;
    for (const auto &entry : fs::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        struct stat status
        {
        };
        if (lstat(entry.path().c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
            problems += "a stray entry " + name + "; ";
            continue;
        }
        const auto found = inodes.find(status.st_ino);
        if (found == inodes.end()) {
            problems +=
                    "a stray file " + name + " of " + std::to_string(status.st_size) + " bytes; ";
            continue;
        }
        const int i = found->second;
        if (!seen.insert(i).second || status.st_nlink != 1)
            problems += "picture " + std::to_string(i) + " has two names; ";
        const std::string bytes = ReadBytes(entry.path().string());
        const bool shifted = adjusted && bytes == tree.shifted[i];
        if (bytes != tree.bytes[i] && !shifted)
            problems += name + " holds neither picture " + std::to_string(i)
                        + "'s bytes nor them with its date pair shifted; ";
        const sys_seconds date = tree.taken[i] + (shifted ? kShift : hours{0});
        if (name != OwnName(i) && name != DatedName(date))
            problems += "picture " + std::to_string(i) + " is named " + name + "; ";
    }
    if (seen.size() != static_cast<std::size_t>(kPictures))
        problems += std::to_string(kPictures - seen.size()) + " pictures lost; ";
    return problems;
}

// After a pass that ran to its end: each date names one picture, which carries that time.
std::string CheckDatedOnce(const fs::path &directory)
{
    const Tree &tree = TheTree();
    std::map<std::string, sys_seconds> dateOfName;
    for (const sys_seconds date : tree.taken)
        dateOfName[DatedName(date)] = date;
    std::size_t named = 0;
    for (const auto &entry : fs::directory_iterator(directory)) {
        const auto date = dateOfName.find(entry.path().filename().string());
        if (date == dateOfName.end())
            continue;
        ++named;
        const auto written = file_clock::to_sys(fs::last_write_time(entry.path()));
        if (floor<seconds>(written) != date->second)
            return date->first + " does not carry its time";
    }
    if (named != dateOfName.size())
        return std::to_string(dateOfName.size() - named) + " dates name no picture";
    return "";
}

void KillPassesAndCheck(bool adjusted)
{
    const unsigned seed = Seed();
    std::mt19937 random(seed + (adjusted ? 1 : 0));
    // A pass prints a line for the scan, one for the folder, one per picture and two at the end.
    std::uniform_int_distribution<int> lineOf(0, kPictures + 4);
    std::uniform_int_distribution<int> delayOf(0, static_cast<int>(kLongestDelay.count()));
    const int runs = RunsPerTest();
    for (int run = 0; run < runs; ++run) {
        const int lines = lineOf(random);
        const microseconds delay{delayOf(random)};
        SCOPED_TRACE("seed " + std::to_string(seed) + ", run " + std::to_string(run) + ": killed "
                     + std::to_string(delay.count()) + " µs after line " + std::to_string(lines));
        TempDir tree(FastParent());
        const std::map<ino_t, int> inodes = TheTree().Write(tree.Path());
        ASSERT_EQ(inodes.size(), static_cast<std::size_t>(kPictures));
        std::vector<std::string> args;
        if (adjusted)
            args = {"-t", std::to_string(kShift.count())};
        args.push_back(tree.Path().string());
        RunAndKill(args, lines, delay);
        ASSERT_EQ(CheckEveryPictureOnce(tree.Path(), inodes, adjusted), "");
        EXPECT_EQ(CheckListedAsItsRenames(tree.Path()), "");
        // Without an adjustment a second pass may run over what the killed one left, and ends
        // as a pass that was never killed.
        if (!adjusted) {
            EXPECT_EQ(RunToTheEnd(tree.Path().string()), 1); // the pictures sharing a date
            ASSERT_EQ(CheckEveryPictureOnce(tree.Path(), inodes, adjusted), "");
            ASSERT_EQ(CheckDatedOnce(tree.Path()), "");
        } else {
            // The journal gives every picture back, whatever the moment of the kill.
            UndoTheLastPass();
            ASSERT_EQ(CheckRestored(tree.Path()), "");
        }
    }
}

TEST(TheCliKilledMidPass, leavesEveryPictureOnceUnderItsOwnOrItsDateNameAndTheNextPassEndsIt)
{
    KillPassesAndCheck(false);
}

TEST(TheCliKilledMidPassWithAnAdjustment, leavesEveryPictureOnceWholeOrWithItsDatePairShifted)
{
    KillPassesAndCheck(true);
}

} // namespace
