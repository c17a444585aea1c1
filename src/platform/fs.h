// Files and folders: whole-file reads, atomic replacement, free space.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// The whole file, or nothing when it cannot be opened or read (error text in *error).
std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path, std::string* error = nullptr);

// Writes the bytes to a new temporary file beside `path` ("<path>.tmp<pid>-<n>"), flushes them
// to disk and renames the file over `path`,
// so that readers see either the old or the new file, never a torn one. Creates missing parent
// folders. False (error text in *error) when any step fails; the old file is then untouched.
bool WriteFileAtomic(const std::string& path, const void* data, size_t size, std::string* error = nullptr);
inline bool WriteFileAtomic(const std::string& path, const std::vector<uint8_t>& bytes,
                            std::string* error = nullptr) {
  return WriteFileAtomic(path, bytes.data(), bytes.size(), error);
}

// Bytes available to an unprivileged user on the file system that holds `folder`; nullopt when
// the folder cannot be examined.
std::optional<uint64_t> FreeDiskSpace(const std::string& folder);

// Creates the folder and its parents; true when it exists afterwards.
bool EnsureFolder(const std::string& folder);

// The folder with exactly one trailing '/'.
std::string WithTrailingSlash(std::string folder);

}  // namespace velmora
