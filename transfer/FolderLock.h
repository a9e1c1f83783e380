#pragma once

#include "LocalFolder.h"

#include <string>

// One Backup or Restore at a time in a local base folder: an exclusive advisory lock on a hidden file
// in it (SafeName::kLockFileName), held for the whole command and removed with it. The kernel drops
// the lock when the process ends, however it ends, so a crashed run (whose file stays) never leaves
// the folder locked.
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // 0 when held; EWOULDBLOCK when another run holds it (nothing is waited for); another errno value
    // when the lock file cannot be opened.
    int acquire(const std::string& folder);
    void release();

private:
    int m_fd = -1;
    LocalFolder m_base; // where the lock file is, to remove it on release
};
