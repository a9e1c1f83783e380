#pragma once

#include "LocalFolder.h"

#include <string>

// One Backup at a time in a local base folder, and no Backup while a Restore reads it: a lock on the
// folder itself (flock of its descriptor), exclusive for a Backup and shared for a Restore, held for
// the whole command. Nothing is written for it, so that a Restore runs from a read-only mount or from
// another user's readable backup; the kernel drops the lock when the process ends, however it ends.
class FolderLock {
public:
    FolderLock() = default;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // 0 when held; EWOULDBLOCK when another run holds it so that this one may not (nothing is waited
    // for); another errno value when the folder cannot be opened or locked.
    int acquire(const std::string& folder, bool exclusive);
    void release() { m_folder = LocalFolder(); }

private:
    LocalFolder m_folder; // the lock lives as long as this descriptor
};
