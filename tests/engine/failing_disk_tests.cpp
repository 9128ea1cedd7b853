// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Each writing step of the run log's save and of a picture's dating failing as a failing, full,
// forbidding or read-only disk fails it: what is reported, and that nothing on disk is lost.
#include "file_error.h"
#include "file_services.h"
#include "jpeg_fixture.h"
#include "log_file.h"
#include "picture_dater.h"
#include "recording_front_end.h"
#include "run_log.h"
#include "temp_dir.h"
#include "write_faults.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

const char *const kDigitized = "Exif.Photo.DateTimeDigitized";
const char *const kOriginal = "Exif.Photo.DateTimeOriginal";

// The four ways a disk refuses a write, and the kind of file error each is told as.
struct DiskFailure
{
    int error;
    FileErrorKind kind;
};
const DiskFailure kFailures[] = {
        {EIO, FileErrorKind::HardwareIo},
        {ENOSPC, FileErrorKind::DiskFull},
        {EACCES, FileErrorKind::AccessDenied},
        {EROFS, FileErrorKind::AccessDenied},
};

std::vector<std::string> NamesIn(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string Trace(const char *step, int error)
{
    return std::string(step) + " fails with " + std::strerror(error);
}

class AFailingDisk : public ::testing::Test
{
protected:
    void TearDown() override { ClearWriteFaults(); }
};

TEST_F(AFailingDisk, keepsTheOldRunLogAndTellsTheFailureByItsStep)
{
    // Creating the new log is told by the system's reason; a write or flush that fails is a full
    // disk whatever the reason; the rename into place is told by its reason.
    struct Step
    {
        const char *label;
        WriteStep step;
        bool toldAsDiskFull;
    } steps[] = {
            {"the new log's create", WriteStep::CreateTemporary, false},
            {"the new log's write", WriteStep::WriteTemporary, true},
            {"the new log's fsync", WriteStep::FlushTemporary, true},
            {"the rename over the old log", WriteStep::ReplaceByRename, false},
    };
    for (const Step &step : steps) {
        for (const DiskFailure &failure : kFailures) {
            SCOPED_TRACE(Trace(step.label, failure.error));
            TempDir dir;
            const std::string oldLog = "2005-07-14 09:03:27: the previous run\r\n";
            WriteBytes(dir / "Kronvik.log", oldLog);
            RunLogLines log;
            log.AppendLogLine("2006-01-02 03:04:05:    IMG_0001.JPG -> 2006-01-02 03.04.05.JPG");

            FailWriteStep(step.step, failure.error);
            std::string logDirectory = dir.Path();
            try {
                WriteLogFile(log, true, logDirectory);
                ADD_FAILURE() << "no file error";
            } catch (const FileError &error) {
                EXPECT_EQ(error.Kind(),
                          step.toldAsDiskFull ? FileErrorKind::DiskFull : failure.kind);
                EXPECT_EQ(error.Path(), dir / "Kronvik.log");
            }
            EXPECT_TRUE(ReadBytes(dir / "Kronvik.log") == oldLog) << "the old log was changed";
            EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"Kronvik.log"});
            ClearWriteFaults();
        }
    }
}

class AFailingDiskUnderAPicture : public AFailingDisk
{
protected:
    std::string AddPicture()
    {
        const std::string path = dir / "IMG_0001.JPG";
        WriteJpegWithExif(
                path, {{kOriginal, "2005:07:14 09:03:27"}, {kDigitized, "2005:07:14 09:03:27"}});
        sandbox.state.pictureList.push_back(path);
        return path;
    }

    TempDir dir;
    EngineSandbox sandbox;
    PassRecord record;
};

TEST_F(AFailingDiskUnderAPicture, endsThePassAtAShiftThatCannotBeWrittenWithThePairWholeOrUntouched)
{
    // The open and the write fail before a byte is written; the fsync fails after the write, so
    // the file holds both dates moved, never one.
    struct Step
    {
        const char *label;
        WriteStep step;
        bool pairWritten;
    } steps[] = {
            {"the shift's open", WriteStep::OpenForUpdate, false},
            {"the shift's write", WriteStep::WriteInPlace, false},
            {"the fsync after the shift's write", WriteStep::FlushInPlace, true},
    };
    for (const Step &step : steps) {
        for (const DiskFailure &failure : kFailures) {
            SCOPED_TRACE(Trace(step.label, failure.error));
            const std::string path = dir / "IMG_0001.JPG";
            WriteJpegWithExif(path, {{kOriginal, "2005:07:14 09:03:27"},
                                     {kDigitized, "2005:07:14 09:03:27"}});
            const std::string original = ReadBytes(path);
            std::string shifted = original;
            for (std::size_t at = shifted.find("2005:07:14 09:03:27"); at != std::string::npos;
                 at = shifted.find("2005:07:14 09:03:27", at))
                shifted.replace(at, 19, "2005:07:14 10:03:27");
            sandbox.state.pictureList = {path};
            sandbox.timeAdjust = 1;
            record = PassRecord{};

            FailWriteStep(step.step, failure.error);
            try {
                DatePicture(sandbox.session, 0, record);
                ADD_FAILURE() << "the pass did not end";
            } catch (const FileError &error) {
                EXPECT_EQ(error.Kind(), failure.kind);
                EXPECT_EQ(error.Path(), path);
            }
            EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"IMG_0001.JPG"});
            EXPECT_TRUE(ReadBytes(path) == (step.pairWritten ? shifted : original))
                    << (step.pairWritten ? "not both dates moved" : "the picture was changed");
            ClearWriteFaults();
            fs::remove(path);
        }
    }
}

TEST_F(AFailingDiskUnderAPicture, logsARenameThatFailsWithItsReasonAndKeepsThePicture)
{
    for (const DiskFailure &failure : kFailures) {
        SCOPED_TRACE(Trace("the rename", failure.error));
        const std::string path = AddPicture();
        const std::string bytes = ReadBytes(path);
        sandbox.state.datedSuccessfully = sandbox.state.datedUnsuccessfully = 0;
        record = PassRecord{};

        FailWriteStep(WriteStep::RenamePicture, failure.error);
        DatePicture(sandbox.session, sandbox.state.pictureList.size() - 1, record);
        EXPECT_EQ(sandbox.front.Lines().back(),
                  std::string(kPicturePrefix) + "IMG_0001.JPG -> 2005-07-14 09.03.27.JPG: "
                          + SystemErrorText(failure.error) + ".");
        EXPECT_EQ(sandbox.state.datedUnsuccessfully, 1);
        EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"IMG_0001.JPG"});
        EXPECT_TRUE(ReadBytes(path) == bytes) << "the picture was changed";
        ClearWriteFaults();
        fs::remove(path);
    }
}

TEST_F(AFailingDiskUnderAPicture, tellsATimeThatCannotBeSetAndStillCountsThePictureDated)
{
    for (const DiskFailure &failure : kFailures) {
        SCOPED_TRACE(Trace("the time setting", failure.error));
        const std::string path = AddPicture();
        const std::string bytes = ReadBytes(path);
        const std::string renamed = dir / "2005-07-14 09.03.27.JPG";
        sandbox.state.datedSuccessfully = sandbox.state.datedUnsuccessfully = 0;
        record = PassRecord{};
        sandbox.front.timesNotSet.clear();

        FailWriteStep(WriteStep::SetFileTime, failure.error);
        DatePicture(sandbox.session, sandbox.state.pictureList.size() - 1, record);
        EXPECT_EQ(sandbox.front.timesNotSet,
                  std::vector<std::string>{renamed + ": " + SystemErrorText(failure.error)});
        EXPECT_EQ(sandbox.state.datedSuccessfully, 1);
        EXPECT_TRUE(ReadBytes(renamed) == bytes) << "the picture was changed";
        ClearWriteFaults();
        fs::remove(renamed);
    }
}

} // namespace
