// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Hive text written and read again: every comment line survives, and a save of a hive that was
// saved before writes it unchanged.
#include "registry_hive_text.h"

#include <gtest/gtest.h>

using namespace kronvik;

namespace {

std::vector<std::string> CommentsOf(const RegistryHiveContents &contents)
{
    std::vector<std::string> comments(contents.headerComments);
    for (const RegistryKeyEntry &key : contents.keys) {
        comments.insert(comments.end(), key.comments.begin(), key.comments.end());
        for (const RegistryValue &value : key.values)
            comments.insert(comments.end(), value.comments.begin(), value.comments.end());
    }
    comments.insert(comments.end(), contents.trailingComments.begin(),
                    contents.trailingComments.end());
    return comments;
}

TEST(HiveText, dropsTheStrayCarriageReturnsAtACommentsEndSoThatNoSaveChangesTheComment)
{
    // A comment line ending in CR CR LF (a file converted to CR LF twice), or in CR at the end of
    // the file, lost one CR at every save until none was left.
    struct Row
    {
        const char *text;
        std::vector<std::string> comments;
    } rows[] = {
            {"REGEDIT4\r\n\r\n; converted twice\r\r\n[HKEY_CURRENT_USER\\A]\r\n; at the end\r\r",
             {"; converted twice", "; at the end"}},
            {"; above\r\r\r\nREGEDIT4\r\n[HKEY_CURRENT_USER\\A]\r\n\"x\"=\"1\"\r\n", {"; above"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        RegistryHiveContents first;
        ASSERT_TRUE(ParseRegistryHiveText(row.text, first));
        EXPECT_EQ(CommentsOf(first), row.comments);
        const std::string written = FormatRegistryHiveText(first);
        RegistryHiveContents again;
        ASSERT_TRUE(ParseRegistryHiveText(written, again));
        EXPECT_EQ(CommentsOf(again), row.comments);
        RegistryHiveContents third;
        ASSERT_TRUE(ParseRegistryHiveText(FormatRegistryHiveText(again), third));
        EXPECT_EQ(FormatRegistryHiveText(third), FormatRegistryHiveText(again));
    }
}

} // namespace
