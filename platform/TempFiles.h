// Where a DFU tool run puts the tool program and the package it hands to it.
#pragma once

#include <string>

namespace qor::platform {

// The folder of one tool run. On Windows it is the user's own temporary directory itself; on
// POSIX, where the temporary directory is shared by all users, a fresh private folder (0700)
// inside it, or inside a per-user directory when the temporary directory forbids execution.
struct ToolDirectory {
    std::string path;        // ends with the path separator
    bool ownFolder = false;  // created for this run, removed by removeToolDirectory
};

// Throws std::runtime_error with the reason when no usable folder can be had.
ToolDirectory createToolDirectory();

// Removes a folder made for the run (it must be empty by then); does nothing otherwise.
void removeToolDirectory(const ToolDirectory& directory);

// The tool program's file name: "qor_ble_dfu.exe" on Windows, "qor_ble_dfu" elsewhere.
std::string toolProgramName();

// Makes a freshly written file executable for its owner; true where nothing is needed.
bool makeExecutable(const std::string& path);

// For a process that runs one update beside others in their own processes: its tool runs must
// not meet theirs. Windows, where a tool run's files have fixed names in the temporary
// directory: a fresh folder inside it becomes this process's temporary directory (TMP and TEMP)
// and is removed, with whatever is left in it, on destruction. POSIX: every tool run has a
// private folder already, and nothing is done.
class PrivateTempDirectory {
  public:
    // Throws std::runtime_error with the reason when the folder cannot be made.
    PrivateTempDirectory();
    ~PrivateTempDirectory();
    PrivateTempDirectory(const PrivateTempDirectory&) = delete;
    PrivateTempDirectory& operator=(const PrivateTempDirectory&) = delete;

  private:
    std::string path_;
};

}  // namespace qor::platform
