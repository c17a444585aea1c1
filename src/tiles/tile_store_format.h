// The byte layout of the tile store's two files (see docs/tile-store-format.md), the CRC32C that
// guards them, and the scan of the data file that rebuilds an index from the records.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velmora {

static_assert(std::endian::native == std::endian::little,
              "the tile store files are little-endian and read by plain copies");

// One index entry: in memory and, byte for byte, in the index file.
struct TileStoreEntry {
  uint64_t key;
  uint64_t offset;  // of the record header in the data file
  uint32_t length;  // payload bytes
  uint32_t crc;     // CRC32C of the payload
};
static_assert(sizeof(TileStoreEntry) == 24);

namespace tile_store {

// Data file header: "VMTSDAT1", u32 version, u32 header size, u64 store id, u32 reserved,
// u32 CRC32C of the 28 bytes before it.
inline constexpr char kDataMagic[8] = {'V', 'M', 'T', 'S', 'D', 'A', 'T', '1'};
inline constexpr uint32_t kVersion = 1;
inline constexpr size_t kDataHeaderSize = 32;

// Record header: u32 magic "VMR1", u32 payload length, u64 key, u32 CRC32C of the payload,
// u32 CRC32C of the 20 header bytes before it. The payload follows.
inline constexpr uint32_t kRecordMagic = 0x31524D56;  // "VMR1"
inline constexpr size_t kRecordHeaderSize = 24;

// Index file header: "VMTSIDX1", u32 version, u32 entry size (24), u64 store id, u64 length of
// the data file that the entries cover, u64 entry count, u32 CRC32C of the entries, u32 CRC32C of
// the 44 header bytes before it. The entries follow in ascending key order.
inline constexpr char kIndexMagic[8] = {'V', 'M', 'T', 'S', 'I', 'D', 'X', '1'};
inline constexpr size_t kIndexHeaderSize = 48;

// CRC32C (Castagnoli). Chainable: Crc32c(b, nb, Crc32c(a, na)) == Crc32c(a then b).
uint32_t Crc32c(const void* data, size_t size, uint32_t crc = 0);
// The same by tables alone: what runs where the CPU has no CRC instruction.
uint32_t Crc32cPortable(const void* data, size_t size, uint32_t crc = 0);

std::vector<uint8_t> EncodeDataHeader(uint64_t store_id);
// The store id of a data file header; false when the bytes are not one.
bool DecodeDataHeader(const uint8_t* bytes, size_t size, uint64_t* store_id);

struct RecordHeader {
  uint32_t length = 0;
  uint64_t key = 0;
  uint32_t crc = 0;
};
void EncodeRecordHeader(const RecordHeader& header, uint8_t out[kRecordHeaderSize]);
// False unless magic and header checksum hold and the length is within `max_length`.
bool DecodeRecordHeader(const uint8_t* bytes, uint32_t max_length, RecordHeader* header);

std::vector<uint8_t> EncodeIndexFile(uint64_t store_id, uint64_t covered,
                                     const std::vector<TileStoreEntry>& entries);
// Reads and checks an index file: header, checksums, ascending unique keys, and every entry
// inside the first `covered` bytes of a data file of `data_size` bytes. False (reason in
// *why) when the file is missing or anything fails; the caller then rebuilds from the data.
bool LoadIndexFile(const std::string& path, uint64_t store_id, uint64_t data_size,
                   uint32_t max_length, std::vector<TileStoreEntry>* entries, uint64_t* covered,
                   std::string* why);

struct ScanResult {
  uint64_t good_end = 0;         // end of the last intact record (the start when there is none)
  uint64_t records = 0;          // intact records found
  uint64_t damaged_records = 0;  // sound header, payload failing its checksum
  uint64_t skipped_bytes = 0;    // bytes in which no record header could be found
  bool io_error = false;         // a read failed: nothing may be concluded about the file
  std::string error;
};
// Walks the records of the data file from `from` to `to`, handing each intact one to `found` in
// file order; the scan stops early when `found` returns false. A damaged header makes the scan
// search onward for the next sound header, so one bad spot costs one record, not the rest of
// the file.
ScanResult ScanRecords(int fd, uint64_t from, uint64_t to, uint32_t max_length,
                       const std::function<bool(const TileStoreEntry&)>& found);

// pread / pwrite loops that finish short transfers; false with errno set on failure (a read
// that meets the end of the file early fails with errno 0).
bool ReadFull(int fd, void* data, size_t size, uint64_t offset);

}  // namespace tile_store
}  // namespace velmora
