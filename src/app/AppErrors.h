#pragma once

// Error codes of the application core (the library components use -1 to -1999).
inline constexpr int AppErrorDataFolder = -2001;
inline constexpr int AppErrorUnknownCommand = -2002;
inline constexpr int AppErrorUnknownDevice = -2003;
inline constexpr int AppErrorNoLocalAddress = -2004;
inline constexpr int AppErrorBusy = -2005;
// A network interface named in the settings or on the command line cannot be used.
inline constexpr int AppErrorUnknownInterface = -2006;
// A selected device's MAC was claimed by another host at Discover.
inline constexpr int AppErrorMacConflict = -2007;
// The settings say where to send in a way that cannot be used: nothing is sent.
inline constexpr int AppErrorUnusableSettings = -2008;
