// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Names that break naive output: line ends, printf sequences and bytes that are no UTF-8, in a
// folder's name and in pictures' names. kronvik-cli dates the pictures and writes every name to
// its run log, on standard output and in the log file, byte for byte.
#include "jpeg_fixture.h"
#include "temp_dir.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

struct Output
{
    int status = -1;
    std::string out, err;
};

Output RunCli(const std::vector<std::string> &args, const TempDir &scratch)
{
    const std::string out = scratch / "out", err = scratch / "err";
    std::vector<char *> argv{const_cast<char *>(KRONVIK_CLI_PATH)};
    for (const auto &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        setenv("TZ", "UTC", 1);
        execv(KRONVIK_CLI_PATH, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadBytes(out), ReadBytes(err)};
}

TEST(TheCliRunLog, holdsNamesWithLineEndsFormatsAndBytesThatAreNoUtf8ByteForByte)
{
    struct Row
    {
        const char *label;
        std::string name;
    } const rows[] = {
            {"a line feed", "new\nline.jpg"},
            {"a carriage return and a tab", "carriage\rreturn\ttab.jpg"},
            {"printf sequences", "%s%n%x%%%1$s.jpg"},
            {"a Latin-1 letter", "caf\xe9.jpg"},
            {"bytes that are never UTF-8", "\xff\xfe\xc0\x80.jpg"},
            {"an escape sequence", "\x1b[2Jcleared.jpg"},
            {"backslashes and quotes", "a\\b\"c'd.jpg"},
    };
    TempDir tree, scratch;
    // The folder's own name is just as hostile.
    const std::string folder = tree / "fold\ner %s \xe9";
    fs::create_directory(folder);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const std::string date = "2005:07:14 09:03:0" + std::to_string(i);
        WriteJpegWithExif(folder + "/" + rows[i].name, {{"Exif.Photo.DateTimeDigitized", date}});
        WriteJpegWithExif(folder + "/bare " + rows[i].name, {});
    }

    const Output run = RunCli({"-l", scratch.Path().string(), tree.Path().string()}, scratch);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string log = ReadBytes(scratch / "Kronvik.log");
    const auto logged = [&](const std::string &message) {
        // Each line is its prefix, the message and the line end of its stream.
        return run.out.find(message + "\n") != std::string::npos
               && log.find(message + "\r\n") != std::string::npos;
    };
    EXPECT_TRUE(logged(": Digital pictures found in " + folder + ": "
                       + std::to_string(2 * std::size(rows))));
    EXPECT_TRUE(logged(": Processing digital pictures in " + folder + "..."));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].label);
        const std::string dated = "2005-07-14 09.03.0" + std::to_string(i) + ".JPG";
        EXPECT_TRUE(fs::exists(folder + "/" + dated));
        EXPECT_TRUE(logged(":    " + rows[i].name + " -> " + dated));
        EXPECT_TRUE(logged(":    No EXIF data found in " + folder + "/bare " + rows[i].name + "."));
    }
    EXPECT_TRUE(
            logged(": Digital pictures dated successfully: " + std::to_string(std::size(rows))));
}

} // namespace
