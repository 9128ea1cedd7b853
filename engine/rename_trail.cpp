// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "rename_trail.h"

#include "directory_listing.h"
#include "path_names.h"

#include <algorithm>
#include <set>
#include <tuple>

namespace kronvik {

RenameTrail::RenameTrail(Journal &journal, PassId pass, ChangeId after)
{
    std::vector<ChangeRecord> renames = journal.RenamesAfter(after);
    std::erase_if(renames, [pass](const ChangeRecord &rename) { return rename.pass == pass; });
    std::map<PassId, PassId> undoes;
    const auto undoneBy = [&](PassId pass) {
        auto known = undoes.find(pass);
        if (known == undoes.end()) {
            const std::optional<JournaledPass> found = journal.FindPass(pass);
            known = undoes.emplace(pass, found ? found->undoes : 0).first;
        }
        return known->second;
    };
    // An undo's rename gives a picture back the name that the rename it marks taken back took
    // from it: both were made. A rename that a recovery took back has no such row, and counts as
    // never made.
    std::set<std::tuple<PassId, std::string, std::string>> givenBack;
    for (const ChangeRecord &rename : renames)
        if (rename.state == ChangeState::Done)
            if (const PassId undone = undoneBy(rename.pass))
                givenBack.emplace(undone, rename.change.newPath, rename.change.path);
    for (const ChangeRecord &rename : renames) {
        const bool made =
                rename.state == ChangeState::Done
                || (rename.state == ChangeState::TakenBack
                    && givenBack.count({rename.pass, rename.change.path, rename.change.newPath}));
        if (!made)
            continue;
        Move move{rename.id, Key(rename.change.path), Key(rename.change.newPath)};
        m_from[move.from].push_back(m_moves.size());
        m_to[move.to].push_back(m_moves.size());
        m_moves.push_back(std::move(move));
    }
}

RenameTrail::Fate RenameTrail::Follow(const std::string &path)
{
    const std::string start = Key(path);
    std::string at = start;
    ChangeId after = 0;
    for (const Move *move; (move = NextMove(at, after));) {
        // Nothing is renamed to a name that a file holds: the file had left it.
        if (move->from != at)
            return Fate::NameGivenToAnother;
        at = move->to;
        after = move->id;
    }
    return at == start ? Fate::StaysThere : Fate::RenamedSince;
}

const RenameTrail::Move *RenameTrail::NextMove(const std::string &key, ChangeId after) const
{
    const Move *next = nullptr;
    for (const auto *moves : {&m_from, &m_to}) {
        const auto found = moves->find(key);
        if (found == moves->end())
            continue;
        const auto later = std::upper_bound(
                found->second.begin(), found->second.end(), after,
                [this](ChangeId id, std::size_t move) { return id < m_moves[move].id; });
        if (later != found->second.end() && (!next || m_moves[*later].id < next->id))
            next = &m_moves[*later];
    }
    return next;
}

std::string RenameTrail::Key(const std::string &path)
{
    const auto split = path.rfind(kPathSeparator);
    const std::string folder = split == std::string::npos ? "./" : path.substr(0, split + 1);
    auto known = m_folderKeys.find(folder);
    if (known == m_folderKeys.end()) {
        FileIdentity identity;
        known = m_folderKeys
                        .emplace(folder, IdentifyFile(folder, identity)
                                                 ? std::to_string(identity.device) + ':'
                                                           + std::to_string(identity.inode) + '/'
                                                 : "?" + folder)
                        .first;
    }
    return known->second + (split == std::string::npos ? path : path.substr(split + 1));
}

} // namespace kronvik
