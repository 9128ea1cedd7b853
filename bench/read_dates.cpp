// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Reads the EXIF date of every file named on the command line, `rounds` times over, and prints
// the time one round took, with the outcomes of the last round.
#include "exif_date_reader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s rounds file...\n", argv[0]);
        return 2;
    }
    const int rounds = std::max(1, std::atoi(argv[1]));
    const std::vector<std::string> paths(argv + 2, argv + argc);
    int counts[3] = {};
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < rounds; ++round) {
        int tally[3] = {};
        for (const auto &path : paths)
            ++tally[static_cast<int>(kronvik::ReadExifDate(path).outcome)];
        std::copy(std::begin(tally), std::end(tally), std::begin(counts));
    }
    const std::chrono::duration<double, std::milli> spent =
            std::chrono::steady_clock::now() - start;
    std::printf("%zu files, %d rounds: %.2f ms a round (%.1f us a file)\n", paths.size(), rounds,
                spent.count() / rounds, spent.count() * 1000 / rounds / paths.size());
    std::printf("unreadable %d, no EXIF %d, searched %d\n", counts[0], counts[1], counts[2]);
    return 0;
}
