// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Two kronvik-cli runs over the same folders, as processes: the second waits for the first pass
// to end, never works among its renames, and never waits in a circle.
#include "bind_mount.h"
#include "jpeg_fixture.h"
#include "source_locks.h"
#include "temp_dir.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kronvik;
using namespace kronvik::test;
using namespace std::chrono;
namespace fs = std::filesystem;

namespace {

constexpr milliseconds kPatience{20000};

// Where two `-t 3` runs over one tree leave each picture: the second run, which waits for the
// first pass to end, finds every date pair as the first run's journaled shift left it and moves
// none of them again.
constexpr hours kMovedByTwoRuns{3};

// A kronvik-cli run under way, its standard output and standard error read as they come.
class CliProcess
{
public:
    // With `outputPipeBytes`, standard output is a pipe that small: a run that writes more than
    // that while nobody reads stops in the middle of its pass until somebody does.
    explicit CliProcess(const std::vector<std::string> &args, int outputPipeBytes = 0)
    {
        int outPipe[2], errPipe[2];
        if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
            throw std::runtime_error("no pipe");
        if (outputPipeBytes > 0)
            fcntl(outPipe[0], F_SETPIPE_SZ, outputPipeBytes);
        std::vector<char *> argv{const_cast<char *>(KRONVIK_CLI_PATH)};
        for (const auto &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(outPipe[1], STDOUT_FILENO);
            dup2(errPipe[1], STDERR_FILENO);
            setenv("TZ", "UTC", 1);
            execv(KRONVIK_CLI_PATH, argv.data());
            _exit(127);
        }
        close(outPipe[1]);
        close(errPipe[1]);
        m_fds[0] = outPipe[0];
        m_fds[1] = errPipe[0];
    }
    ~CliProcess()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        for (int fd : m_fds) {
            if (fd >= 0)
                close(fd);
        }
    }

    pid_t Pid() const { return m_pid; }

    // Reads until `text` is in standard error; false when it has not come within the patience.
    bool WaitForError(const std::string &text) { return WaitFor(err, text); }
    bool WaitForOutput(const std::string &text) { return WaitFor(out, text); }

    // Reads to the end and returns the exit status; -1 when the run had to be killed.
    int Finish()
    {
        const auto deadline = steady_clock::now() + kPatience;
        while ((m_fds[0] >= 0 || m_fds[1] >= 0) && Read(deadline)) { }
        int status = 0;
        while (waitpid(m_pid, &status, WNOHANG) == 0) {
            if (steady_clock::now() > deadline) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
                break;
            }
            usleep(1000);
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string out, err;

private:
    bool WaitFor(const std::string &stream, const std::string &text)
    {
        const auto deadline = steady_clock::now() + kPatience;
        while (stream.find(text) == std::string::npos) {
            if (!Read(deadline))
                return false;
        }
        return true;
    }

    // Reads what one of the streams has; false at the deadline or when both have ended.
    bool Read(steady_clock::time_point deadline)
    {
        pollfd ready[2] = {{m_fds[0], POLLIN, 0}, {m_fds[1], POLLIN, 0}};
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0 || (m_fds[0] < 0 && m_fds[1] < 0)
            || poll(ready, 2, static_cast<int>(left)) <= 0)
            return false;
        std::string *streams[2] = {&out, &err};
        for (int i = 0; i < 2; ++i) {
            if (!(ready[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            const ssize_t got = read(m_fds[i], buffer, sizeof buffer);
            if (got > 0) {
                streams[i]->append(buffer, static_cast<std::size_t>(got));
            } else {
                close(m_fds[i]);
                m_fds[i] = -1;
            }
        }
        return true;
    }

    pid_t m_pid = -1;
    int m_fds[2] = {-1, -1};
};

std::string WaitingLine(const std::string &directory)
{
    return "kronvik-cli: waiting for another Kronvik pass in " + directory + "...\n";
}

std::size_t Occurrences(const std::string &text, const std::string &part)
{
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// A folder on a memory file system where there is one: every shift is flushed to the device,
// which a disk makes slow for hundreds of pictures.
fs::path FastParent()
{
    std::error_code error;
    return fs::is_directory("/dev/shm", error) && access("/dev/shm", W_OK) == 0
                   ? fs::path("/dev/shm")
                   : fs::temp_directory_path();
}

// Picture `index` of a tree: taken 7 seconds after the one before, from 10:00:00 on, so that no
// two pictures share a name however far the tree is shifted.
struct TreePicture
{
    static sys_seconds Taken(int index)
    {
        return sys_days{year{2005} / July / 14} + 10h + seconds{7 * index};
    }
    static std::string Format(sys_seconds time, const char *format)
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
    static std::string ExifDate(sys_seconds time)
    {
        return Format(time, "%04d:%02u:%02u %02d:%02d:%02d");
    }
    static std::string Name(sys_seconds time)
    {
        return Format(time, "%04d-%02u-%02u %02d.%02d.%02d.JPG");
    }
};

// The bytes of `count` camera pictures, made once, written afresh for every trial: one picture
// written with Exiv2, its date strings then replaced in place for each of the others.
std::vector<std::string> MakeTree(int count)
{
    TempDir scratch;
    const std::string path = scratch / "p.jpg";
    const std::string first = TreePicture::ExifDate(TreePicture::Taken(0));
    WriteJpegWithExif(path, {{"Exif.Photo.DateTimeOriginal", first},
                             {"Exif.Photo.DateTimeDigitized", first}});
    const std::string model = ReadBytes(path);
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        std::string bytes = model;
        const std::string date = DateString(TreePicture::ExifDate(TreePicture::Taken(i)));
        for (auto at = bytes.find(DateString(first)); at != std::string::npos;
             at = bytes.find(DateString(first), at + 1))
            bytes.replace(at, date.size(), date);
        files.push_back(bytes);
    }
    return files;
}

void WriteTree(const std::vector<std::string> &files, const fs::path &directory)
{
    for (std::size_t i = 0; i < files.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04zu.JPG", i);
        WriteBytes((directory / name).string(), files[i]);
    }
}

// Every picture of the tree exists once, named after its date moved by `moved`, and holds that
// date. Empty when so, else what is wrong.
std::string CheckTreeMovedBy(const fs::path &directory, int count, hours moved)
{
    const auto entries = std::distance(fs::directory_iterator(directory), fs::directory_iterator());
    if (entries != count)
        return std::to_string(entries) + " files instead of " + std::to_string(count);
    for (int i = 0; i < count; ++i) {
        const sys_seconds date = TreePicture::Taken(i) + moved;
        const fs::path path = directory / TreePicture::Name(date);
        if (!fs::exists(path))
            return "no " + path.string();
        if (ReadBytes(path).find(DateString(TreePicture::ExifDate(date))) == std::string::npos)
            return path.string() + " does not hold " + TreePicture::ExifDate(date);
    }
    return "";
}

// Never waits: a stand-in for a run that already holds its locks.
class NoWait : public LockWaiter
{
public:
    bool WaitForLock(const std::string &, DirectoryLock &, LockMode) override { return false; }
};

} // namespace

TEST(TwoCliRuns, overOneTreeNeverInterleave)
{
    constexpr int kPictures = 500;

    const auto files = MakeTree(kPictures);
    for (int trial = 0; trial < 10; ++trial) {
        TempDir tree(FastParent());
        WriteTree(files, tree.Path());
        CliProcess first({"-q", "-t", "3", tree.Path()});
        CliProcess second({"-q", "-t", "3", tree.Path()});
        ASSERT_EQ(first.Finish(), 0) << "trial " << trial << ": " << first.err;
        ASSERT_EQ(second.Finish(), 0) << "trial " << trial << ": " << second.err;
        ASSERT_EQ(CheckTreeMovedBy(tree.Path(), kPictures, kMovedByTwoRuns), "")
                << "trial " << trial;
    }
}

TEST(TwoCliRuns, waitForThePassUnderWayAndShiftNothingTwice)
{
    constexpr int kPictures = 500;
    TempDir tree(FastParent());
    WriteTree(MakeTree(kPictures), tree.Path());
    const std::string directory = tree.Path().string();

    // The first run's lines fill its small pipe long before its last picture: it stays in the
    // middle of its pass until its output is read.
    CliProcess first({"-t", "3", directory}, 4096);
    ASSERT_TRUE(first.WaitForOutput("Processing digital pictures")) << first.out;
    CliProcess second({"-t", "3", directory});
    ASSERT_TRUE(second.WaitForError(WaitingLine(directory))) << second.err;
    EXPECT_EQ(second.out, "") << "scanned while the other pass ran";

    EXPECT_EQ(first.Finish(), 0) << first.err;
    EXPECT_EQ(second.Finish(), 0) << second.err;
    EXPECT_EQ(Occurrences(second.err, "waiting"), 1u) << second.err;
    EXPECT_NE(second.out.find(": Digital pictures found in " + directory + ": 500\n"),
              std::string::npos);
    EXPECT_EQ(CheckTreeMovedBy(tree.Path(), kPictures, kMovedByTwoRuns), "");
}

TEST(TwoCliRuns, throughADirectoryLinkNeverInterleave)
{
    constexpr int kPictures = 200;
    const auto files = MakeTree(kPictures);
    // A run over A reaches B's pictures through the link A/L.
    for (const bool linkFirst : {true, false}) {
        TempDir root(FastParent());
        const std::string a = root / "A", b = root / "B";
        fs::create_directories(a);
        fs::create_directories(b);
        fs::create_directory_symlink(b, a + "/L");
        WriteTree(files, b);
        const std::string firstSource = linkFirst ? a : b, secondSource = linkFirst ? b : a;

        CliProcess first({"-t", "3", firstSource}, 4096);
        ASSERT_TRUE(first.WaitForOutput("Processing digital pictures")) << first.out;
        CliProcess second({"-t", "3", secondSource});
        if (linkFirst) {
            // The run over B waits for the pass that works in B through the link.
            ASSERT_TRUE(second.WaitForError(WaitingLine(b))) << second.err;
            EXPECT_EQ(second.out, "") << "scanned while the other pass ran";
            EXPECT_EQ(first.Finish(), 0) << first.err;
            EXPECT_EQ(second.Finish(), 0) << second.err;
        } else {
            // The run over A leaves the link's folder to the pass under way there.
            EXPECT_EQ(second.Finish(), 1) << second.err;
            EXPECT_EQ(second.err,
                      "kronvik-cli: not searching '" + a + "/L': another Kronvik pass holds it\n");
            EXPECT_NE(second.out.find(": Digital pictures found in " + a + "/L: 0\n"),
                      std::string::npos)
                    << second.out;
            EXPECT_EQ(first.Finish(), 0) << first.err;
        }
        // Each picture was shifted by one run or by both, one after the other, never by two at
        // once.
        const std::string movedOnce = CheckTreeMovedBy(b, kPictures, kMovedByTwoRuns);
        const std::string movedTwice = CheckTreeMovedBy(b, kPictures, 2 * kMovedByTwoRuns);
        EXPECT_TRUE(movedOnce.empty() || movedTwice.empty())
                << (linkFirst ? "link first: " : "link second: ") << movedOnce;
    }
}

TEST(ACliRun, leavesOutWhatItReachesThroughALinkOnlyWhereAnotherRunHoldsIt)
{
    const auto files = MakeTree(1);
    const std::string dated = TreePicture::Name(TreePicture::Taken(0));
    struct Case
    {
        const char *name;
        const char *link, *target; // below the root
        const char *held; // by another run, exclusively; none when empty
        int status;
        const char *warning; // the path it names, below the root
    };
    const std::vector<Case> cases = {
            {"a folder above the source", "A/up", "..", "", 0, ""},
            {"a picture", "A/zz.jpg", "../B/IMG_0000.JPG", "", 0, ""},
            {"a picture in a folder held", "A/zz.jpg", "../B/IMG_0000.JPG", "B", 1, "A/zz.jpg"},
            {"a folder above the source, with a subfolder held", "A/up", "..", "B", 1, "A/up/B"},
    };
    for (const Case &c : cases) {
        TempDir root;
        fs::create_directories(root / "A");
        fs::create_directories(root / "B");
        WriteTree(files, root / "B");
        fs::create_symlink(c.target, root / c.link);
        DirectoryLock other;
        if (*c.held) {
            ASSERT_TRUE(other.Open(root / c.held));
            ASSERT_EQ(other.TryLock(LockMode::Exclusive), LockAttempt::Taken);
        }
        CliProcess run({"-q", root / "A"});
        EXPECT_EQ(run.Finish(), c.status) << c.name << ": " << run.err;
        const std::string path = root / c.warning;
        const std::string warning = std::string(c.link).ends_with(".jpg")
                                            ? "kronvik-cli: not dating '" + path
                                                      + "': another Kronvik pass holds its folder\n"
                                            : "kronvik-cli: not searching '" + path
                                                      + "': another Kronvik pass holds it\n";
        EXPECT_EQ(run.err, *c.warning ? warning : "") << c.name;
        // Through the link the picture is dated where no other run holds its folder.
        const bool renamed =
                fs::exists(root.Path() / "A" / dated) || fs::exists(root.Path() / "B" / dated);
        EXPECT_EQ(renamed, !*c.held) << c.name;
    }
}

TEST(ACliRun, leavesOutAFolderABindMountShowsWhereAnotherRunHoldsTheFolderAboveIt)
{
    const auto files = MakeTree(1);
    const std::string dated = TreePicture::Name(TreePicture::Taken(0));
    const struct
    {
        const char *name;
        const char *source, *held; // below the root
        int status;
    } cases[] = {
            {"the folder above what it shows held", "mnt", "data", 1},
            {"the folder above the mount point held", "data", "mnt", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        fs::create_directories(root / "data/B");
        fs::create_directories(root / "mnt/b");
        WriteTree(files, root / "data/B");
        BindMount bind(root / "data/B", root / "mnt/b");
        if (!bind.Mounted())
            GTEST_SKIP() << "this process may not mount";
        DirectoryLock other;
        ASSERT_TRUE(other.Open(root / c.held));
        ASSERT_EQ(other.TryLock(LockMode::Exclusive), LockAttempt::Taken);
        CliProcess run({"-q", root / c.source});
        EXPECT_EQ(run.Finish(), c.status) << run.err;
        EXPECT_EQ(run.err, c.status == 0 ? ""
                                         : "kronvik-cli: not searching '" + root / "mnt/b"
                                                   + "': another Kronvik pass holds it\n");
        EXPECT_EQ(fs::exists(root.Path() / "data/B" / dated), c.status == 0);
    }
}

TEST(TwoCliRuns, withTheirFoldersInOppositeOrdersNeverWaitForEachOther)
{
    TempDir root;
    const std::string x = root / "X", y = root / "Y";
    fs::create_directories(x);
    fs::create_directories(y);
    DirectoryLock heldX, heldY;
    ASSERT_TRUE(heldX.Open(x) && heldY.Open(y));
    ASSERT_EQ(heldX.TryLock(LockMode::Exclusive), LockAttempt::Taken);
    ASSERT_EQ(heldY.TryLock(LockMode::Exclusive), LockAttempt::Taken);

    // Both wait; once both folders are free at once, each must not take one and wait for the
    // other's.
    CliProcess forward({x + ";" + y});
    CliProcess backward({y + ";" + x});
    ASSERT_TRUE(forward.WaitForError("waiting")) << forward.err;
    ASSERT_TRUE(backward.WaitForError("waiting")) << backward.err;
    heldX.Release();
    heldY.Release();
    EXPECT_EQ(forward.Finish(), 0) << forward.err;
    EXPECT_EQ(backward.Finish(), 0) << backward.err;
}

TEST(ACliRun, endsWith130OnCtrlCWhileItWaitsWithoutScanning)
{
    TempDir tree;
    WriteTree(MakeTree(2), tree.Path());
    DirectoryLock held;
    ASSERT_TRUE(held.Open(tree.Path()));
    ASSERT_EQ(held.TryLock(LockMode::Exclusive), LockAttempt::Taken);

    CliProcess run({"-t", "3", tree.Path()});
    ASSERT_TRUE(run.WaitForError(WaitingLine(tree.Path()))) << run.err;
    kill(run.Pid(), SIGINT);
    EXPECT_EQ(run.Finish(), 130);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(fs::exists(tree / "IMG_0000.JPG"));
    EXPECT_TRUE(fs::exists(tree / "IMG_0001.JPG"));
}

TEST(ACliRun, waitsOnlyForRunsOverItsOwnFolders)
{
    struct Case
    {
        const char *name;
        std::string held; // the source list of a run under way
        std::string sources;
        bool waits;
    };
    const std::vector<Case> cases = {
            {"the same folder twice", "", "A;A", false},
            {"a folder and a link to it", "", "A;L", false},
            {"a subfolder of the folder held", "A", "A/S", true},
            {"the parent of the folder held", "A/S", "A", true},
            {"a sibling of the folder held", "A/S", "A/T", false},
    };
    for (const Case &c : cases) {
        TempDir root;
        for (const char *folder : {"A/S", "A/T"})
            fs::create_directories(root.Path() / folder);
        fs::create_directory_symlink("A", root.Path() / "L");
        const auto inRoot = [&](const std::string &list) {
            std::string text;
            for (std::size_t at = 0; at < list.size();) {
                const std::size_t end = std::min(list.find(';', at), list.size());
                text += (text.empty() ? "" : ";") + root / list.substr(at, end - at);
                at = end + 1;
            }
            return text;
        };
        SourceLocks held;
        NoWait noWait;
        ASSERT_TRUE(held.Take(inRoot(c.held), noWait)) << c.name;

        CliProcess run({"-q", inRoot(c.sources)});
        if (c.waits) {
            EXPECT_TRUE(run.WaitForError("waiting")) << c.name;
            held.Release();
        }
        EXPECT_EQ(run.Finish(), 0) << c.name << ": " << run.err;
        EXPECT_EQ(run.err.find("waiting") != std::string::npos, c.waits) << c.name;
    }
}
