// Writing whole files and appending lines, with the guarantees the logs and
// the settings files need. Every path is UTF-8 text.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace pv::platform {

// Appends `data` to the file (created when missing) in one write in append
// mode, so lines stay whole when another process appends to the same file,
// and the file is never truncated. A file this call creates is readable by
// its owner only (0600 whatever the umask: logs hold personal data); an
// existing file keeps its mode. False when the file cannot be opened or not
// everything was written.
bool AppendToFile(const std::string& path, std::string_view data);

// Replaces the file's contents so that a reader (or a crash) sees either the
// old file or the new one, never a mix: the data go to a temporary file in the
// same folder, are flushed to the disk, and the temporary file is renamed over
// the target. On Linux a new file gets `newFileMode`, and an existing file
// keeps its permission bits unless `keepExistingMode` is false (then it gets
// `newFileMode` too: a file that now holds a secret); Windows has no such
// modes and ignores both. False on any failure; the temporary file is
// removed then and the target left alone.
bool ReplaceFileAtomically(const std::string& path, std::string_view data,
                           unsigned newFileMode = 0600, bool keepExistingMode = true);

// std::fopen for a UTF-8 path (on Windows the wide-character open). On Linux
// a file that "w" or "a" creates is readable by its owner only (0600
// whatever the umask: photo files show residents' faces); an existing file
// keeps its mode.
std::FILE* OpenStdioFile(const std::string& path, const char* mode);

}  // namespace pv::platform
