#pragma once
// Where the programs find their own files and where they may write.
//
// Run from a build tree, the programs keep everything beside themselves (the default portal
// pages in "default_templates", schedule CSV files in "csv", the manual in "docs/manual").
// Installed (the program lies in <prefix>/bin and <prefix>/share/pelmora exists), the read-only
// files come from <prefix>/share/pelmora and whatever the program writes goes to the user's
// data folder ($XDG_DATA_HOME/pelmora, by default ~/.local/share/pelmora): an installed program
// never writes into the system's folders, even when run as root.
#include <string>

// The folder of the running program ("" when it cannot be told).
std::string ProgramDir();
// <prefix>/share/pelmora of an installed program; "" when the program runs from a build tree.
std::string InstalledDataDir();
// A file or folder the program ships: beside the program first, then the installed data folder.
// Returns the first that exists, otherwise the path beside the program.
std::string ProgramDataPath(const std::string& relative);
// The user's own data folder for the program, with `sub` appended; created when missing.
std::string UserDataDir(const std::string& sub);
