#pragma once

// The filter of the file dialogs: every file, also a name without a dot (a configuration
// saved as "lobby", a firmware image without an extension), which "*.*" hides on Linux.
inline constexpr const char* AllFilesFilter = "All files (*)";
