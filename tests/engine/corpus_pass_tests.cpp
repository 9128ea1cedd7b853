// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The dating pass over copies of real camera pictures and hostile files: every file ends in one
// defined outcome, and no file loses a byte other than by its rename.
#include "dating_pass.h"
#include "picture_scan.h"
#include "recording_front_end.h"
#include "temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <strings.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

TEST(ADatingPassOverTheCorpus, endsEveryFileInOneDefinedOutcomeAndKeepsItsBytes)
{
    const fs::path corpus = KRONVIK_CORPUS_DIR;
    if (!fs::is_directory(corpus / "exiv2-jpeg"))
        GTEST_SKIP() << "no test corpus at " << corpus;
    TempDir dir;
    std::map<std::string, std::string> bytesByName;
    std::vector<std::string> hostile;
    for (const char *folder : {"exiv2-jpeg", "hostile-nonjpeg"}) {
        for (const auto &entry : fs::directory_iterator(corpus / folder)) {
            std::string name = entry.path().filename().string();
            if (std::string(folder) == "hostile-nonjpeg") {
                name += ".jpg";
                hostile.push_back(dir / name);
            }
            if (name.size() < 4 || strcasecmp(name.c_str() + name.size() - 4, ".jpg") != 0)
                continue;
            fs::copy_file(entry.path(), dir / name);
            bytesByName[name] = ReadBytes(dir / name);
        }
    }

    EngineSandbox sandbox;
    sandbox.front.sourceText = dir.Path().string();
    RetrieveFileList(sandbox.session);
    ASSERT_EQ(sandbox.state.pictureList.size(), bytesByName.size());
    DatePictures(sandbox.session);

    std::size_t outcomes = 0;
    for (const std::string &line : sandbox.front.Lines()) {
        const std::string message = line.substr(21);
        if (message.rfind("   ", 0) != 0)
            continue; // the scan, directory and summary lines
        ++outcomes;
        const bool known =
                message.find(" -> ") != std::string::npos
                || message.find("No EXIF data found in ") != std::string::npos
                || message.find(" not renamed; incorrect date format.") != std::string::npos
                || message.find(" not renamed; unreadable picture (") != std::string::npos;
        EXPECT_TRUE(known) << message;
    }
    EXPECT_EQ(outcomes, bytesByName.size());
    for (const std::string &path : hostile) {
        const auto lines = sandbox.front.Lines();
        const bool reported = std::any_of(lines.begin(), lines.end(), [&](const std::string &line) {
            return line.find("    " + path + " not renamed; unreadable picture (")
                   != std::string::npos;
        });
        EXPECT_TRUE(reported) << path;
    }
    // Renamed or not, every file's bytes are still there, once each.
    std::multiset<std::string> before, after;
    for (const auto &[name, bytes] : bytesByName)
        before.insert(bytes);
    for (const auto &entry : fs::directory_iterator(dir.Path()))
        after.insert(ReadBytes(entry.path().string()));
    EXPECT_TRUE(before == after);
    EXPECT_GE(sandbox.state.datedSuccessfully, 40);
}

} // namespace
