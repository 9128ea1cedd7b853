// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "folder_chain.h"

#include <algorithm>

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
// goes on past it.
void WalkUp(FolderChain &chain)
{
    DirectoryLock passedAgain;
    const DirectoryLock *at = &chain.front().lock;
    for (int step = 0; step < kMostFoldersAbove; ++step) {
        DirectoryLock parent;
        if (!parent.OpenParent(*at)
            || (parent.Identity() == at->Identity() && parent.MountId() == at->MountId()))
            return;
        if (Find(chain, parent.Identity()) == chain.end()) {
            chain.push_back({std::move(parent), true});
            at = &chain.back().lock;
        } else {
            passedAgain = std::move(parent);
            at = &passedAgain;
        }
    }
}

FolderChain Chain(const std::string &directory, MountTable &mounts, int depth)
{
    FolderChain chain(1);
    if (!chain.front().lock.Open(directory))
        return {};
    WalkUp(chain);
    if (depth >= kOtherPlacesDepth)
        return chain;

    // The last folder is the root: what a mount of it elsewhere shows is inside every folder.
    const std::size_t walked = chain.size();
    std::optional<std::size_t> firstShownElsewhere;
    for (std::size_t i = 0; i + 1 < walked; ++i) {
        if (!chain[i].lock.IsMountRoot())
            continue;
        FolderChain above;
        bool shownElsewhere = false;
        for (const std::string &place :
             OtherPlacesOfMountRoot(mounts.Mounts(), chain[i].lock.MountId())) {
            DirectoryLock shown;
            // A place that a later mount hides shows something else.
            if (!shown.Open(place) || shown.Identity() != chain[i].lock.Identity())
                continue;
            shownElsewhere = true;
            // Where another mount shows the folder as its own root, a run coming in by it locks
            // the folder itself as its scan enters it. Where one shows it inside its file system,
            // a run over a folder above it there comes in without locking anything on the way.
            if (shown.IsMountRoot())
                continue;
            FolderChain inside = Chain(place, mounts, depth + 1);
            for (std::size_t k = 1; k < inside.size(); ++k)
                above.push_back(std::move(inside[k]));
        }
        if (!shownElsewhere)
            continue;
        if (!firstShownElsewhere) {
            firstShownElsewhere = i;
            // Above that mount's mount point, nothing covers the directory: a run may come in by
            // another way without passing there.
            for (std::size_t k = i + 1; k < walked; ++k)
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

const std::vector<MountEntry> &MountTable::Mounts()
{
    if (!m_mounts)
        m_mounts = ParseMountInfo(ReadMountInfo());
    return *m_mounts;
}

FolderChain DirectoryAndAbove(const std::string &directory, MountTable &mounts)
{
    return Chain(directory, mounts, 0);
}

} // namespace kronvik
