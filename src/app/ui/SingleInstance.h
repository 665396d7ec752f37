#pragma once

#include <QLockFile>
#include <QString>

// One console per user: the main window's title names a lock in the user's runtime folder,
// held for as long as the window exists.
QString SingleInstanceLockPath();
// Takes the lock; false when another console holds it. A lock left by a process that no
// longer runs is taken over.
bool AcquireSingleInstance(QLockFile& lock);

inline constexpr const char* AnotherInstanceText = "Another Nodewarden is running!";
inline constexpr const char* AnotherInstanceCaption = "Warning";
