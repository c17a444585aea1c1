// Files and folders: whole-file reads, atomic replacement, free space.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The whole file, or nothing when it cannot be opened or read (error text in *error).
std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path, std::string* error = nullptr);

// Writes the bytes to a new temporary file beside `path` ("<path>.tmp<pid>-<n>"), flushes them
// to disk and renames the file over `path`,
// so that readers see either the old or the new file, never a torn one. Creates missing parent
// folders. False (error text in *error) when any step fails; the old file is then untouched.
// The first write into a folder removes the temporaries that killed processes left there, and
// the first write of the process ignores SIGXFSZ (IgnoreFileSizeSignal).
bool WriteFileAtomic(const std::string& path, const void* data, size_t size, std::string* error = nullptr);
inline bool WriteFileAtomic(const std::string& path, const std::vector<uint8_t>& bytes,
                            std::string* error = nullptr) {
  return WriteFileAtomic(path, bytes.data(), bytes.size(), error);
}

// The process that made a temporary file of WriteFileAtomic, from its name
// ("<name>.tmp<pid>-<n>"); 0 when the name is not of that form.
long AtomicTemporaryOwner(std::string_view name);
// Removes the temporary files of WriteFileAtomic in `folder` whose process no longer runs (a
// kill between their creation and the rename leaves them); returns how many. WriteFileAtomic
// does it the first time a process writes into a folder.
size_t RemoveDeadTemporaries(const std::string& folder);

// Ignores SIGXFSZ (unless a handler is installed), so that a write beyond the file-size limit
// fails with EFBIG and is reported like a full disk instead of ending the program.
void IgnoreFileSizeSignal();

// Bytes available to an unprivileged user on the file system that holds `folder`; nullopt when
// the folder cannot be examined.
std::optional<uint64_t> FreeDiskSpace(const std::string& folder);

// Creates the folder and its parents; true when it exists afterwards.
bool EnsureFolder(const std::string& folder);

// The folder with exactly one trailing '/'.
std::string WithTrailingSlash(std::string folder);

}  // namespace velmora
