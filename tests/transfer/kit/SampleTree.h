#pragma once

#include "TreeSnapshot.h"

#include <QString>

// A voice-mail server's data in all four categories, Prompts with two subdirectories (one of which has
// a deeper folder that no backup takes), written under a root folder.
namespace SampleTree {

bool write(const QString& root);
// What a backup of that tree leaves under the local base: the same, without the deeper folder.
TreeSnapshot::Tree expectedBackup();

} // namespace SampleTree
