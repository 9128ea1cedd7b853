// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "dating_session.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kronvik::test {

// A front end made of plain records: the run log's lines, the labels' last texts, every progress
// position, and a hook that runs where a window would drain its messages.
class RecordingFrontEnd : public RunLogLines, public StatusView
{
public:
    void SetStatusLabel(StatusLabel label, const std::string &text) override
    {
        labels[label] = text;
        if (label == StatusLabel::Current)
            currentHistory.push_back(text);
        if (label == StatusLabel::Percent)
            percentHistory.push_back(text);
    }
    void SetProgressPosition(int percent) override { progressHistory.push_back(percent); }
    void EnableDatePictures() override { datePicturesEnabled = true; }
    std::string SourceDirectoryText() const override { return sourceText; }
    bool DrainMessages() override { return onDrain ? onDrain() : true; }
    void ReportUnsearchedDirectory(const std::string &directory, int error, bool partly) override
    {
        unsearched.push_back({directory, error, partly});
    }
    void ReportTimeNotSet(const std::string &path, const std::string &reason) override
    {
        timesNotSet.push_back(path + ": " + reason);
    }
    void ReportRecoveryPending(const std::string &folder,
                               const std::vector<std::int64_t> &passes) override
    {
        recoveriesPending.push_back(folder + ": " + std::to_string(passes.size()));
    }
    bool ScanStopRequested() const override { return onScanStop && onScanStop(); }

    std::map<StatusLabel, std::string> labels;
    std::vector<std::string> currentHistory;
    std::vector<std::string> percentHistory;
    std::vector<int> progressHistory;
    bool datePicturesEnabled = false;
    std::string sourceText;
    std::function<bool()> onDrain;
    std::function<bool()> onScanStop;
    struct Unsearched
    {
        std::string directory;
        int error;
        bool partly;
        friend bool operator==(const Unsearched &, const Unsearched &) = default;
    };
    std::vector<Unsearched> unsearched;
    std::vector<std::string> timesNotSet;
    std::vector<std::string> recoveriesPending; // "folder: passes"
};

// The run log's prefix for the pinned test clock, 2006-01-02 03:04:05 UTC.
inline constexpr std::int64_t kPinnedClock = 1136171045;
inline const char *const kTopPrefix = "2006-01-02 03:04:05: ";
inline const char *const kPicturePrefix = "2006-01-02 03:04:05:    ";

// One session over a fresh program state, with the clock pinned and the time zone set to UTC for
// the lifetime of the object.
class EngineSandbox
{
public:
    EngineSandbox();
    ~EngineSandbox();

    ProgramState state;
    RecordingFrontEnd front;
    bool recurse = true;
    int timeAdjust = 0;
    bool cancel = false;
    DatingSession session{
            state, front, front, recurse, timeAdjust, cancel, [] { return kPinnedClock; }};

    // Run-log lines without their prefix, to compare messages.
    std::vector<std::string> Messages() const;

private:
    std::string m_oldTimeZone;
    bool m_hadTimeZone = false;
};

} // namespace kronvik::test
