// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kronvik {

// The state that lives for the whole run of the program, shared by the scan, the dater and the
// pass. The front end owns one and hands it to the engine.
struct ProgramState
{
    // Full paths of the pictures, in the order the scan found them; an entry becomes the new path
    // when its picture is renamed.
    std::vector<std::string> pictureList;
    std::int32_t datedSuccessfully = 0;
    std::int32_t datedUnsuccessfully = 0;
    // Directory part, with its trailing separator, of the picture dated last. Never cleared.
    std::string lastDirectory;
};

} // namespace kronvik
