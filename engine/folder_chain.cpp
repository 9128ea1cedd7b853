// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "folder_chain.h"

#include <algorithm>
#include <map>

namespace kronvik {

namespace {

// Mounts shown inside mounts shown inside ... are followed this far.
constexpr int kOtherPlacesDepth = 8;
// No ".." walk on a sane system comes near it; a broken one must still end.
constexpr int kMostFoldersAbove = 4096;

FolderChain::iterator Find(FolderChain &chain, FileIdentity identity)
{
    return std::find_if(chain.begin(), chain.end(), [&](const FolderAbove &folder) {
        return folder.lock.Identity() == identity;
    });
}

// Up through "..", each folder once. The root is its own parent on its own mount; a folder bound
// onto a place inside itself has itself as its parent too, but on another mount, and the walk
// goes on past it. True when the walk reached the root, false where a parent could not be opened.
bool WalkUp(FolderChain &chain)
{
    DirectoryLock passedAgain;
    const DirectoryLock *at = &chain.front().lock;
    for (int step = 0; step < kMostFoldersAbove; ++step) {
        DirectoryLock parent;
        if (!parent.OpenParent(*at))
            return false;
        if (parent.Identity() == at->Identity() && parent.MountId() == at->MountId())
            return true;
        if (Find(chain, parent.Identity()) == chain.end()) {
            chain.push_back({std::move(parent), true});
            at = &chain.back().lock;
        } else {
            passedAgain = std::move(parent);
            at = &passedAgain;
        }
    }
    return false;
}

// Whether each mount root met so far in one look is shown elsewhere: the folders above its other
// places are in the chain from the first time, and nested bind mounts would otherwise be walked
// again and again.
using MountsSeen = std::map<std::uint64_t, bool>;

FolderChain Chain(const std::string &directory, MountTable &mounts, MountsSeen &seen, int depth)
{
    FolderChain chain(1);
    if (!chain.front().lock.Open(directory))
        return {};
    const bool reachedRoot = WalkUp(chain);
    if (depth >= kOtherPlacesDepth)
        return chain;

    // The root: what a mount of it elsewhere shows is inside every folder. A walk that stopped
    // below it looks at its last folder too.
    const std::size_t upward = chain.size();
    const std::size_t walked = upward - (reachedRoot ? 1 : 0);
    std::optional<std::size_t> firstShownElsewhere;
    for (std::size_t i = 0; i < walked; ++i) {
        if (!chain[i].lock.IsMountRoot())
            continue;
        FolderChain above;
        const std::uint64_t mountId = chain[i].lock.MountId();
        const auto known = seen.find(mountId);
        bool shownElsewhere = known != seen.end() && known->second;
        if (known == seen.end())
            seen.emplace(mountId, false);
        for (const std::string &place :
             known != seen.end() ? std::vector<std::string>() : mounts.OtherPlaces(mountId)) {
            DirectoryLock shown;
            // A place that a later mount hides shows something else.
            if (!shown.Open(place) || shown.Identity() != chain[i].lock.Identity())
                continue;
            shownElsewhere = true;
            seen[mountId] = true;
            // Where another mount shows the folder as its own root, a run coming in by it locks
            // the folder itself as its scan enters it. Where one shows it inside its file system,
            // a run over a folder above it there comes in without locking anything on the way.
            if (shown.IsMountRoot())
                continue;
            FolderChain inside = Chain(place, mounts, seen, depth + 1);
            for (std::size_t k = 1; k < inside.size(); ++k)
                above.push_back(std::move(inside[k]));
        }
        if (!shownElsewhere)
            continue;
        if (!firstShownElsewhere) {
            firstShownElsewhere = i;
            // Above that mount's mount point, nothing covers the directory: a run may come in by
            // another way without passing there.
            for (std::size_t k = i + 1; k < upward; ++k)
                chain[k].covers = false;
        }
        for (FolderAbove &folder : above) {
            const bool covers = folder.covers && i == *firstShownElsewhere;
            if (auto known = Find(chain, folder.lock.Identity()); known != chain.end())
                known->covers = known->covers || covers;
            else
                chain.push_back({std::move(folder.lock), covers});
        }
    }
    return chain;
}

} // namespace

std::vector<std::string> MountTable::OtherPlaces(std::uint64_t mountId)
{
    const auto lists = [&] {
        return std::any_of(m_mounts->begin(), m_mounts->end(),
                           [&](const MountEntry &m) { return m.id == mountId; });
    };
    if (!m_mounts || !lists())
        m_mounts = ParseMountInfo(ReadMountInfo());
    return OtherPlacesOfMountRoot(*m_mounts, mountId);
}

FolderChain DirectoryAndAbove(const std::string &directory, MountTable &mounts)
{
    MountsSeen seen;
    return Chain(directory, mounts, seen, 0);
}

} // namespace kronvik
