// CTileStore: the disk store of one map source. Tiles are records (key, length, bytes) appended
// to the data file "<base>img"; the sorted index "<base>idx" maps each key to its newest record.
// The on-disk layout and the recovery rules are described in docs/tile-store-format.md.
//
// Thread safety: every operation may be called from any thread. Look-ups (Read, IsStored,
// ReadNextRecord, GetCount) run concurrently with each other and with one writer; writers
// (Write, Flush, ReadByIndex, GetKeys, Open, Close) are serialised among themselves.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "tiles/tile_store_format.h"
#include "tiles/tile_store_lock.h"

namespace velmora {

// What CTileStore::Write did.
enum class TileWriteResult {
  kWritten,    // a record was appended and indexed; it supersedes any older record of the key
  kUnchanged,  // compare was asked and the stored bytes are identical: nothing was written
  kDiskFull,   // the disk (or the file size limit) is exhausted; the store is as it was before
  kFailed,     // store not open, record too large or another I/O error; the store is unchanged
};

// Tuning of the index upkeep; the defaults suit a source of a million tiles of some 20 KB.
struct TileStoreOptions {
  // The index file is rewritten once this many data bytes or records were appended since it
  // was last written. They bound the data that an open after a crash must scan again.
  uint64_t index_save_bytes = 256ull << 20;
  uint32_t index_save_records = 65536;
  // Records appended since the last merge are kept in a hash map; at this many they are merged
  // into the sorted array.
  uint32_t merge_records = 16384;
  // Check the checksum of every record read (cheap: hardware CRC32C where available).
  bool verify_reads = true;
};

class CTileStore {
 public:
  // Longest record accepted; anything larger is not a tile and would only hurt the readers.
  static constexpr uint32_t kMaxRecordBytes = 64u << 20;

  // The key as the two 32-bit words that the tile records carry.
  static constexpr uint64_t JoinKey(uint32_t low, uint32_t high) {
    return (uint64_t{high} << 32) | low;
  }

  // `base_path` gets "img" and "idx" appended for the two files (e.g. ".../123." for source 123).
  explicit CTileStore(std::string base_path, TileStoreOptions options = {});
  ~CTileStore();  // closes the store (the index is saved)
  CTileStore(const CTileStore&) = delete;
  CTileStore& operator=(const CTileStore&) = delete;

  const std::string& BasePath() const { return base_path_; }
  std::string DataPath() const { return base_path_ + "img"; }
  std::string IndexPath() const { return base_path_ + "idx"; }

  // Opens the two files, creating them when missing (reset deletes them first). A data file
  // that is not a tile store, or one that another store object or process holds open, fails
  // the open and is left untouched. An index that is missing, damaged or behind the data file
  // is brought up to date from the data file; a torn or garbage tail is cut off.
  bool Open(bool reset, std::string* error = nullptr);
  // Saves the index when it changed and closes the files. False (error text in *error) when the
  // index could not be saved; the data stays intact and the next open rebuilds what is missing.
  bool Close(std::string* error = nullptr);
  bool IsOpen() const;

  // The bytes stored for the key. False when the key is not stored or its record is damaged (a
  // damaged record is dropped from the index, so the tile is fetched and written again).
  bool Read(uint64_t key, std::vector<uint8_t>& out);
  bool Read(uint32_t low, uint32_t high, std::vector<uint8_t>& out) {
    return Read(JoinKey(low, high), out);
  }
  bool IsStored(uint64_t key) const;
  bool IsStored(uint32_t low, uint32_t high) const { return IsStored(JoinKey(low, high)); }

  // Appends a record for the key. With `compare` set, bytes identical to the stored ones are
  // not written again (kUnchanged). A failed write leaves files and index as they were and
  // says why in *error.
  TileWriteResult Write(uint64_t key, const void* data, size_t length, bool compare,
                        std::string* error = nullptr);
  TileWriteResult Write(uint32_t low, uint32_t high, const void* data, size_t length, bool compare,
                        std::string* error = nullptr) {
    return Write(JoinKey(low, high), data, length, compare, error);
  }

  // Number of keys in the index.
  uint64_t GetCount() const;
  // The n-th record in ascending key order (0-based).
  bool ReadByIndex(uint64_t n, uint64_t* key, std::vector<uint8_t>& out);
  // Walks the current records in data file order; superseded and damaged records are skipped.
  // Start with position 0; each call advances it. False at the end.
  bool ReadNextRecord(uint64_t& position, uint64_t* key, std::vector<uint8_t>& out);
  // Every stored key, ascending.
  std::vector<uint64_t> GetKeys();

  // Writes the index file now (after the data file was flushed to disk).
  bool Flush(std::string* error = nullptr);
  // Length of the data file.
  uint64_t DataSize() const { return end_.load(std::memory_order_acquire); }

 private:
  using Entry = TileStoreEntry;
  struct DataFile;  // the open data file; readers keep it alive across a concurrent Close

  // Callers hold index_lock_ (shared) or write_mutex_.
  bool FindEntry(uint64_t key, Entry* entry) const;
  // Callers hold write_mutex_; these take index_lock_ exclusively for their change.
  void InsertEntry(const Entry& entry);
  void MergeRecent();
  bool SaveIndex(std::string* error);
  bool CloseLocked(std::string* error);
  // Reads and checks one record; no lock needed.
  bool ReadRecord(const DataFile& file, const Entry& entry, std::vector<uint8_t>& out) const;
  // Removes the key from the index when it still names the damaged record.
  void DropDamaged(const std::shared_ptr<DataFile>& file, const Entry& entry);

  std::string base_path_;
  TileStoreOptions options_;

  // write_mutex_ serialises everything that changes the store; index_lock_ guards what readers
  // look at (file_, sorted_, recent_, count_). Writers read those without index_lock_ (no one
  // else changes them) and take it exclusively only for the short moment of a change.
  mutable std::mutex write_mutex_;
  mutable CWriterFirstLock index_lock_;
  std::shared_ptr<DataFile> file_;
  std::vector<Entry> sorted_;                   // ascending keys, no duplicates
  std::unordered_map<uint64_t, Entry> recent_;  // newer than sorted_ for the same key
  uint64_t count_ = 0;
  std::atomic<uint64_t> end_{0};  // end of the last good record = file length

  // Writer state (write_mutex_).
  uint64_t store_id_ = 0;            // ties the index file to its data file
  uint64_t records_since_save_ = 0;  // since the index file was last written or tried
  uint64_t bytes_since_save_ = 0;
  bool index_dirty_ = false;  // the index file on disk lags behind the memory
};

}  // namespace velmora
