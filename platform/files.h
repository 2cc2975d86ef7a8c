// Small file helpers shared by the log, the application folder and the photo
// files. None of them reports an error.
#pragma once

#include <string>

// <windows.h> (which asio brings in on Windows) defines DeleteFile as a macro
// for DeleteFileA; without it, callers that saw the macro would ask for a
// function this file does not define.
#ifdef DeleteFile
#undef DeleteFile
#endif

namespace pv::platform {

inline constexpr int kAttrFiles = 0;       // regular files only
inline constexpr int kAttrDirectory = 16;  // directories

// True when `path` names at least one entry of the kind `attributes` asks
// for: 0 files (directories are not reported), 16 directories. The last path
// component may hold the wildcards '*' and '?'. Any failure answers false.
bool FileExists(const std::string& path, int attributes = kAttrFiles);

// Deletes the file(s) that FileExists(path, 0) finds; never fails.
void DeleteFile(const std::string& path);

// Creates `path` and any missing parents; false when it is not a directory
// afterwards.
bool MakeDirectories(const std::string& path);

}  // namespace pv::platform
