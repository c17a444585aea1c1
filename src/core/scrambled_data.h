// Scrambled data files (".kmp" beside the program): pages, scripts and tables that ship with the
// program in a form that is not plain text. The build packs them from data/ (tools/kmp_pack).
//
// Stored form: "VKMP", the plain length as a 32-bit little-endian number, then the plain bytes
// XORed with a key stream: a 32-bit xorshift generator (x ^= x << 13; x ^= x >> 17; x ^= x << 5)
// seeded with 0x6D2B79F5 XOR the plain length (0x6D2B79F5 again if that gives 0), stepped once
// per 4 bytes, whose state's four bytes (little-endian) key those 4 bytes. The transform is its
// own inverse; it hides the text from casual eyes, it is not a secret.
//
// Bundles (several named files in one .kmp), inside the plain bytes: "KMPB", a 32-bit count,
// then per file a 32-bit name length, the name (UTF-8, '/' between folders, no leading '/'), a
// 32-bit size and the file's bytes. All numbers little-endian.
//
// Web-file pair (the map server's "wi" and "wd"): the name table is a run of entries, each the
// file name, a NUL and the 32-bit little-endian size; the data block holds the files' bytes one
// after the other in table order.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// "<program folder><name>.kmp" unscrambled: the plain bytes (std::string keeps a NUL after them,
// so c_str() is the text of a page). Nothing when the file is missing or holds no bytes; a
// damaged file (wrong header, wrong length) gives nothing too and is logged.
std::optional<std::string> LoadScrambledDataFile(const std::string& name);

// The same for any path.
std::optional<std::string> LoadScrambledFile(const std::string& path);
// Scrambles the bytes and writes them atomically.
bool SaveScrambledFile(const std::string& path, std::string_view plain, std::string* error = nullptr);

// The stored form of plain bytes, and back (nothing when `stored` is not a whole scrambled file).
std::string ScrambleBytes(std::string_view plain);
std::optional<std::string> UnscrambleBytes(std::string_view stored);

// Name -> bytes.
using ScrambledBundle = std::map<std::string, std::string>;

std::string EncodeBundle(const ScrambledBundle& files);
// Nothing when the bytes are not a whole bundle (every length is checked).
std::optional<ScrambledBundle> DecodeBundle(std::string_view plain);
// "<program folder><name>.kmp" as a bundle; nothing when missing, empty or damaged.
std::optional<ScrambledBundle> LoadScrambledBundle(const std::string& name);

struct WebFilePair {
  std::string names;  // the name table
  std::string data;   // the data block
};
WebFilePair EncodeWebFiles(const ScrambledBundle& files);
// Nothing when an entry is cut short or the sizes overrun the data block.
std::optional<ScrambledBundle> DecodeWebFiles(std::string_view names, std::string_view data);

}  // namespace velmora
