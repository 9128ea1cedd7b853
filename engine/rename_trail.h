// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "journal.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace kronvik {

// Where the renames journaled after a change took the file that had a given name then. Two
// pictures of one size, shifted alike and dated alike, look the same to every check on disk: an
// undo must not take for its picture the other one, which a later pass, or an undo, gave the name
// its picture had.
class RenameTrail
{
public:
    enum class Fate {
        StaysThere, // as far as the journal knows: what the name holds is still to be checked
        RenamedSince,
        NameGivenToAnother,
    };

    // From the renames of the passes after `pass`, which run after it (a pass holds its folders),
    // planned after its change `after`. Those of `pass` itself are left out: it renames each
    // picture once, and plans again after later pictures one that it renames before them.
    RenameTrail(Journal &journal, PassId pass, ChangeId after);

    // What became of the file that had `path` at the end of the pass.
    Fate Follow(const std::string &path);

private:
    struct Move
    {
        ChangeId id;
        std::string from, to;
    };

    // One entry of a folder however the folder was spelt.
    std::string Key(const std::string &path);
    const Move *NextMove(const std::string &key, ChangeId after) const;

    std::vector<Move> m_moves; // in the order planned
    std::map<std::string, std::vector<std::size_t>> m_from, m_to; // into m_moves, in order
    std::map<std::string, std::string> m_folderKeys;
};

} // namespace kronvik
