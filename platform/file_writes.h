// Writing whole files and appending lines, with the guarantees the logs and
// the settings files need. Every path is UTF-8 text.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace pv::platform {

// Appends `data` to the file (created when missing) in one write in append
// mode, so lines stay whole when another process appends to the same file,
// and the file is never truncated. False when the file cannot be opened or
// not everything was written.
bool AppendToFile(const std::string& path, std::string_view data);

// Replaces the file's contents so that a reader (or a crash) sees either the
// old file or the new one, never a mix: the data go to a temporary file in the
// same folder, are flushed to the disk, and the temporary file is renamed over
// the target. On Linux an existing file keeps its permission bits and a new
// one gets `newFileMode`; Windows has no such modes and ignores it. False on
// any failure; the temporary file is removed then and the target left alone.
bool ReplaceFileAtomically(const std::string& path, std::string_view data,
                           unsigned newFileMode = 0600);

// std::fopen for a UTF-8 path (on Windows the wide-character open).
std::FILE* OpenStdioFile(const std::string& path, const char* mode);

}  // namespace pv::platform
