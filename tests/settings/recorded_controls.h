// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "settings_store.h"

#include <string>

namespace kronvik::test {

// The source edit box and the "&Retrieve File List" button, as plain fields.
struct RecordedControls : SourceListControls
{
    std::string text;
    int textSets = 0;
    bool retrieveEnabled = false;

    std::string SourceDirectoryText() const override { return text; }
    void SetSourceDirectoryText(const std::string &newText) override
    {
        text = newText;
        ++textSets;
    }
    void EnableRetrieveFileList() override { retrieveEnabled = true; }
};

} // namespace kronvik::test
