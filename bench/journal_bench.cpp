// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// What the journal costs a dating pass, per picture: planning a batch of pictures (a shift, a
// rename and a time each, committed in one transaction) and marking them done with the next
// batch, for several batch sizes; the lookup that keeps a picture from being shifted twice; and
// the end of a pass that prunes a journal already holding 100 large passes. A pass runs some
// 10,000 pictures a second, so the journal may cost about 8 us a picture (10%).
// Not part of the test suite; run through bench/journal_bench.sh.
#include "journal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace kronvik;
using Clock = std::chrono::steady_clock;

double MicrosecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// The processor time of this process, which other work on a shared machine does not inflate.
double ProcessMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e6 + now.tv_nsec / 1e3;
}

std::string Pair(int picture)
{
    char date[20];
    std::snprintf(date, sizeof date, "2005:07:%02d %02d:%02d:%02d", 1 + picture / 86400 % 28,
                  picture / 3600 % 24, picture / 60 % 60, picture % 60);
    const std::string text(date, 19);
    return text + '\0' + text + '\0';
}

PlannedPicture PictureChanges(const std::string &folder, int picture, bool shift)
{
    const std::string old =
            folder + "/DCIM/100CANON/IMG_" + std::to_string(10000 + picture) + ".JPG";
    const std::string renamed =
            folder + "/DCIM/100CANON/2005-07-14 09.03." + std::to_string(picture) + ".JPG";
    const FileIdentity identity{2049, static_cast<std::uint64_t>(1000000 + picture)};
    const std::int64_t before = 1700000000LL * 1000000000 + picture;
    PlannedPicture planned{{
            JournalChange::Rename(old, renamed, 3000000, identity),
            JournalChange::Time(renamed, 3000000, before, 1121331807LL * 1000000000, identity),
    }};
    if (shift)
        planned.changes.insert(planned.changes.begin(),
                               JournalChange::Shift(old, 3000000, 412, Pair(picture),
                                                    Pair(picture + 7200), 2, before, identity));
    return planned;
}

// One pass of `pictures` in batches of `batch`: each batch planned, made (not here) and marked
// done, the marks riding in the next batch's commit. Returns microseconds per picture, of the
// clock and (in `processor`) of the processor.
double TimePass(Journal &journal, int pictures, int batch, const std::string &folder,
                double *processor = nullptr, bool shift = true)
{
    const auto start = Clock::now();
    const double startProcessor = ProcessMicroseconds();
    journal.BeginPass({JournalFrontEnd::Cli, folder, 2, true, 0});
    std::vector<ChangeId> last;
    for (int first = 0; first < pictures; first += batch) {
        std::vector<PlannedPicture> planned;
        for (int picture = first; picture < first + batch && picture < pictures; ++picture)
            planned.push_back(PictureChanges(folder, picture, shift));
        for (ChangeId id : last)
            journal.MarkDone(id);
        last = journal.PlanBatch(planned);
    }
    for (ChangeId id : last)
        journal.MarkDone(id);
    journal.EndPass({pictures, 0, PassOutcome::Finished});
    if (processor)
        *processor = (ProcessMicroseconds() - startProcessor) / pictures;
    return MicrosecondsSince(start) / pictures;
}

void Run(const std::string &where, int pictures)
{
    std::printf("\njournal in %s, %d pictures a pass, 3 changes a picture\n", where.c_str(),
                pictures);
    std::printf("  %-34s %10s %14s\n", "best of 3 passes", "us/picture", "processor us");
    for (bool shift : {true, false}) {
        for (int batch : {1, 16, 64, 256, 1024}) {
            const std::string folder = where + "/journal-bench-" + std::to_string(batch);
            std::filesystem::remove_all(folder);
            Journal journal(folder + "/journal.sqlite3");
            TimePass(journal, pictures / 10, batch, folder); // warm up the file and the cache
            double best = 1e9, bestProcessor = 1e9;
            for (int round = 0; round < 3; ++round) {
                double processor = 0;
                best = std::min(best,
                                TimePass(journal, pictures, batch, folder, &processor, shift));
                bestProcessor = std::min(bestProcessor, processor);
            }
            std::printf("  %s, batches of %-*d %10.2f %14.2f\n",
                        shift ? "shift + rename + time" : "rename + time", shift ? 11 : 19, batch,
                        best, bestProcessor);
            std::filesystem::remove_all(folder);
        }
    }

    const std::string folder = where + "/journal-bench-lookup";
    std::filesystem::remove_all(folder);
    Journal journal(folder + "/journal.sqlite3");
    TimePass(journal, pictures, 256, folder);
    auto start = Clock::now();
    int found = 0;
    for (int picture = 0; picture < pictures; ++picture) {
        const std::string renamed =
                folder + "/DCIM/100CANON/2005-07-14 09.03." + std::to_string(picture) + ".JPG";
        found += journal.FindEarlierShift(renamed, 3000000, 412, Pair(picture + 7200), 2)
                         .has_value();
    }
    std::printf("  %-34s %10.2f  (%d found)\n", "lookup, a shift found",
                MicrosecondsSince(start) / pictures, found);
    start = Clock::now();
    found = 0;
    for (int picture = 0; picture < pictures; ++picture)
        found += journal.FindEarlierShift("/elsewhere/IMG.JPG", 3000000, 412, Pair(picture + 99999),
                                          2)
                         .has_value();
    std::printf("  %-34s %10.2f  (%d found)\n", "lookup, none there",
                MicrosecondsSince(start) / pictures, found);

    // A journal holding its 100 passes: each new pass prunes the oldest with its changes.
    for (int pass = 0; pass < 100; ++pass)
        TimePass(journal, pictures / 4, 1024, folder);
    journal.BeginPass({JournalFrontEnd::Cli, folder, 0, true, 0});
    start = Clock::now();
    journal.EndPass({});
    std::printf("  %-34s %10.0f us  (once a pass; journal %.0f MB)\n", "end of a pass that prunes",
                MicrosecondsSince(start),
                std::filesystem::file_size(folder + "/journal.sqlite3") / 1e6);
    std::filesystem::remove_all(folder);
}

} // namespace

int main(int argc, char **argv)
{
    const int pictures = argc > 1 ? std::atoi(argv[1]) : 20000;
    for (int i = 2; i < argc; ++i)
        Run(argv[i], pictures);
    if (argc <= 2) {
        Run("/dev/shm", pictures);
        Run(std::filesystem::temp_directory_path().string(), pictures);
    }
    return 0;
}
