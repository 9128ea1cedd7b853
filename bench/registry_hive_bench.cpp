// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// How long loading and saving the settings take when the settings file is large: a hive of
// 16,000 keys and one of 50 MB, each with the settings key last, in a temporary config folder.
// Not part of the test suite; run through bench/registry_hive_bench.sh.
#include "settings_store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Controls : kronvik::SourceListControls
{
    std::string text;
    std::string SourceDirectoryText() const override { return text; }
    void SetSourceDirectoryText(const std::string &newText) override { text = newText; }
    void EnableRetrieveFileList() override { }
};

const char kSettingsSection[] =
        "\n[HKEY_CURRENT_USER\\Software\\Veltmark, Inc.\\Kronvik]\n"
        "\"Recurse\"=\"0\"\n\"SaveLog\"=\"1\"\n\"SaveDir\"=\"1\"\n"
        "\"SourceDir\"=\"/media/card/DCIM\"\n\"LogDir\"=\"/var/tmp/logs/\"\n";

// 16,000 keys of another program, two values each.
std::string ManyKeys()
{
    std::string text = "REGEDIT4\n";
    char line[160];
    for (int i = 0; i < 16000; ++i) {
        std::snprintf(line, sizeof line,
                      "\n[HKEY_CURRENT_USER\\Software\\Other Program\\Documents\\Entry%05d]\n"
                      "\"Name\"=\"document %d\"\n\"Size\"=dword:%08x\n",
                      i, i, i * 37);
        text += line;
    }
    return text + kSettingsSection;
}

// About 50 MB: 512 keys, each with a binary value of 32 KiB written as wrapped hex lines.
std::string FiftyMegabytes()
{
    std::string text = "REGEDIT4\n";
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int key = 0; key < 512; ++key) {
        text += "\n[HKEY_CURRENT_USER\\Software\\Other Program\\Cache\\Blob" + std::to_string(key)
                + "]\n\"Data\"=hex:";
        std::size_t column = 12;
        for (int i = 0; i < 32768; ++i) {
            const auto byte = static_cast<unsigned char>((i * 131 + key) & 0xFF);
            text += kDigits[byte >> 4];
            text += kDigits[byte & 0xF];
            column += 2;
            if (i + 1 < 32768) {
                text += ',';
                if (++column >= 76) {
                    text += "\\\n  ";
                    column = 2;
                }
            }
        }
        text += '\n';
    }
    return text + kSettingsSection;
}

double Seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

// The processor time of this process: on a machine shared with other work, the wall-clock time
// also counts the waits for a processor.
double ProcessorSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void Measure(const char *label, const std::string &hive, const std::filesystem::path &file,
             int rounds, bool loadOnly)
{
    std::vector<double> loads, loadProcessor, saves;
    for (int round = 0; round < rounds; ++round) {
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out.write(hive.data(), static_cast<std::streamsize>(hive.size()));
        }
        kronvik::SettingsRecord record;
        Controls controls;
        auto start = Clock::now();
        const double processorStart = ProcessorSeconds();
        kronvik::LoadSettings(record, controls);
        loads.push_back(Seconds(Clock::now() - start));
        loadProcessor.push_back(ProcessorSeconds() - processorStart);
        if (controls.text != "/media/card/DCIM" || record.m_bRecurse) {
            std::fprintf(stderr, "%s: the settings were not loaded\n", label);
            std::exit(1);
        }
        if (loadOnly) {
            saves.push_back(0);
            continue;
        }
        start = Clock::now();
        kronvik::SaveSettings(record, controls);
        saves.push_back(Seconds(Clock::now() - start));
    }
    for (auto *times : {&loads, &loadProcessor, &saves})
        std::sort(times->begin(), times->end());
    std::printf("%-12s %5.1f MB   load: median %7.3f s, best %7.3f s (processor: median %7.3f s)"
                "   save: median %7.3f s\n",
                label, static_cast<double>(hive.size()) / 1e6, loads[loads.size() / 2], loads[0],
                loadProcessor[loadProcessor.size() / 2], saves[saves.size() / 2]);
}

} // namespace

int main(int argc, char *argv[])
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    // Saving can be left out where it takes minutes (code that rewrote the file per value).
    const bool loadOnly = argc > 2 && std::string(argv[2]) == "--load-only";
    char pattern[] = "/tmp/kronvik-hive-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path home = pattern;
    setenv("XDG_CONFIG_HOME", pattern, 1);
    std::filesystem::create_directories(home / "kronvik");
    const std::filesystem::path file = home / "kronvik/registry.reg";
    std::printf("rounds: %d\n", rounds);
    Measure("16,000 keys", ManyKeys(), file, rounds, loadOnly);
    Measure("50 MB", FiftyMegabytes(), file, rounds, loadOnly);
    std::filesystem::remove_all(home);
    return 0;
}
