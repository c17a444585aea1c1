// CTileStore: appending records, the two-part in-memory index (sorted array + recent hash map),
// index upkeep and the recovery done at open.
#include "tiles/tile_store.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <shared_mutex>

#include "core/log.h"
#include "platform/fs.h"
#include "platform/sync.h"

namespace velmora {
using namespace tile_store;

struct CTileStore::DataFile {
  explicit DataFile(int descriptor) : fd(descriptor) {}
  ~DataFile() { ::close(fd); }
  DataFile(const DataFile&) = delete;
  DataFile& operator=(const DataFile&) = delete;
  const int fd;
};

namespace {

std::string SysError(const std::string& path, const char* what, int err) {
  return path + ": " + what + " (" + (err ? std::strerror(err) : "unexpected end of file") + ")";
}

// EFBIG is what a process meets at its file size limit: for the store it is a full disk too.
bool IsFullDisk(int err) { return err == ENOSPC || err == EDQUOT || err == EFBIG; }

uint64_t NewStoreId() {
  std::random_device rd;
  uint64_t id = (uint64_t{rd()} << 32) ^ rd() ^ TickCount64();
  return id ? id : 1;
}

bool KeyLess(const TileStoreEntry& a, const TileStoreEntry& b) { return a.key < b.key; }

// Entries found in file order, sorted by key; of several records of one key the newest, which is
// the one furthest into the file, stays.
void KeepNewestPerKey(std::vector<TileStoreEntry>& v) {
  std::sort(v.begin(), v.end(), [](const TileStoreEntry& a, const TileStoreEntry& b) {
    return a.key != b.key ? a.key < b.key : a.offset < b.offset;
  });
  size_t out = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    if (i + 1 < v.size() && v[i + 1].key == v[i].key) continue;
    v[out++] = v[i];
  }
  v.resize(out);
}

// Both sorted with unique keys; for a key in both, `newer` wins.
std::vector<TileStoreEntry> MergeNewer(const std::vector<TileStoreEntry>& older,
                                       const std::vector<TileStoreEntry>& newer) {
  std::vector<TileStoreEntry> out;
  out.reserve(older.size() + newer.size());
  size_t i = 0, j = 0;
  while (i < older.size() && j < newer.size()) {
    if (older[i].key < newer[j].key) {
      out.push_back(older[i++]);
    } else {
      if (older[i].key == newer[j].key) ++i;
      out.push_back(newer[j++]);
    }
  }
  out.insert(out.end(), older.begin() + static_cast<ptrdiff_t>(i), older.end());
  out.insert(out.end(), newer.begin() + static_cast<ptrdiff_t>(j), newer.end());
  return out;
}

// Creates a data file holding only its header. The header is written beside the final name and
// linked into place, so a crash never leaves a half header (which the next open would have to
// refuse as a foreign file), and a file that appeared meanwhile is never replaced.
bool CreateDataFile(const std::string& path, std::string* error) {
  std::string tmp = path + ".new" + std::to_string(::getpid());
  std::vector<uint8_t> header = EncodeDataHeader(NewStoreId());
  if (!WriteFileAtomic(tmp, header, error)) return false;
  bool ok = ::link(tmp.c_str(), path.c_str()) == 0 || errno == EEXIST;
  if (!ok && error) *error = SysError(path, "cannot create", errno);
  ::unlink(tmp.c_str());
  return ok;
}

bool AllDigits(std::string_view s) {
  return !s.empty() && s.size() < 10 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

enum class Temporary { kNone, kIndexRewrite, kCreation };

// Which of this store's temporary files `name` is: "<index>.tmp<pid>-<n>" of an index rewrite
// (WriteFileAtomic) or "<data>.new<pid>" of the data file's creation. *pid receives the process
// that made a creation temporary.
Temporary StoreTemporary(std::string_view name, std::string_view index_name, std::string_view data_name, long* pid) {
  auto after = [name](std::string_view prefix) -> std::optional<std::string_view> {
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return std::nullopt;
    return name.substr(prefix.size());
  };
  if (auto rest = after(std::string(index_name) + ".tmp")) {
    const size_t dash = rest->find('-');
    if (dash != std::string_view::npos && AllDigits(rest->substr(0, dash)) && AllDigits(rest->substr(dash + 1)))
      return Temporary::kIndexRewrite;
  }
  if (auto rest = after(std::string(data_name) + ".new"); rest && AllDigits(*rest)) {
    *pid = std::stol(std::string(*rest));
    return Temporary::kCreation;
  }
  return Temporary::kNone;
}

// Removes the temporary files that a process killed in the middle of an index rewrite or of the
// data file's creation left beside the store; an index temporary is as large as the index and
// would otherwise stay for ever. Called while the data file's lock is held, so no index rewrite
// of a live store can be under way; a creation temporary is left alone while its maker runs.
void RemoveStaleTemporaries(const std::string& data_path, const std::string& index_path) {
  namespace fs = std::filesystem;
  const fs::path data(data_path);
  const std::string data_name = data.filename().string();
  const std::string index_name = fs::path(index_path).filename().string();
  const fs::path folder = data.has_parent_path() ? data.parent_path() : fs::path(".");
  std::error_code ec;
  std::vector<fs::path> stale;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    long pid = 0;
    switch (StoreTemporary(it->path().filename().string(), index_name, data_name, &pid)) {
      case Temporary::kNone:
        continue;
      case Temporary::kCreation:
        if (pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) continue;
        break;
      case Temporary::kIndexRewrite:
        break;
    }
    stale.push_back(it->path());
  }
  for (const fs::path& path : stale) {
    if (::unlink(path.c_str()) == 0)
      AppLog("tile store: removed the stale temporary file %s", path.c_str());
    else if (errno != ENOENT)
      AppLog("%s", SysError(path.string(), "cannot remove a stale temporary file", errno).c_str());
  }
}

}  // namespace

CTileStore::CTileStore(std::string base_path, TileStoreOptions options)
    : base_path_(std::move(base_path)), options_(options) {}

CTileStore::~CTileStore() { Close(nullptr); }

bool CTileStore::IsOpen() const {
  std::shared_lock lock(index_lock_);
  return file_ != nullptr;
}

uint64_t CTileStore::GetCount() const {
  std::shared_lock lock(index_lock_);
  return count_;
}

bool CTileStore::FindEntry(uint64_t key, Entry* entry) const {
  if (auto it = recent_.find(key); it != recent_.end()) {
    if (entry) *entry = it->second;
    return true;
  }
  auto it = std::lower_bound(sorted_.begin(), sorted_.end(), Entry{key, 0, 0, 0}, KeyLess);
  if (it == sorted_.end() || it->key != key) return false;
  if (entry) *entry = *it;
  return true;
}

// ---- open and close -------------------------------------------------------------------------
bool CTileStore::Open(bool reset, std::string* error) {
  std::lock_guard write_lock(write_mutex_);
  auto fail = [&](const std::string& text) {
    AppLog("tile store: %s", text.c_str());
    if (error) *error = text;
    return false;
  };
  if (file_) CloseLocked(nullptr);

  const std::string data_path = DataPath();
  const std::string index_path = IndexPath();
  std::string parent = std::filesystem::path(data_path).parent_path().string();
  if (!parent.empty() && !EnsureFolder(parent))
    return fail(SysError(parent, "cannot create folder", errno));
  if (reset) {
    // Not under the feet of another store that has the files open: its appends would go on
    // into the deleted file and be lost.
    int old_fd = ::open(data_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (old_fd >= 0 && ::flock(old_fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(old_fd);
      return fail(data_path + ": in use by another store");
    }
    bool deleted = true;
    for (const std::string& path : {index_path, data_path}) {
      if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        fail(SysError(path, "cannot delete", errno));
        deleted = false;
        break;
      }
    }
    if (old_fd >= 0) ::close(old_fd);
    if (!deleted) return false;
  }

  int fd = ::open(data_path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    std::string why;
    if (!CreateDataFile(data_path, &why)) return fail(why);
    fd = ::open(data_path.c_str(), O_RDWR | O_CLOEXEC);
  }
  if (fd < 0) return fail(SysError(data_path, "cannot open", errno));
  auto file = std::make_shared<DataFile>(fd);
  // Tiles are read at random: the kernel's read-ahead would fetch 128 KB from the disk for every
  // 20 KB tile. Sequential walks ask for their read-ahead themselves.
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  // One writer per data file, across processes too: two appenders would overwrite each other.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return fail(errno == EWOULDBLOCK ? data_path + ": in use by another store"
                                     : SysError(data_path, "cannot lock", errno));
  }
  RemoveStaleTemporaries(data_path, index_path);
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(SysError(data_path, "cannot examine", errno));
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  uint8_t header[kDataHeaderSize];
  uint64_t store_id = 0;
  if (size < kDataHeaderSize || !ReadFull(fd, header, kDataHeaderSize, 0) ||
      !DecodeDataHeader(header, kDataHeaderSize, &store_id)) {
    // Never overwritten: it may be somebody's file at a path we were given by mistake.
    return fail(data_path + ": not a tile store data file");
  }

  std::vector<Entry> indexed;
  uint64_t covered = 0;
  std::string why;
  bool have_index =
      LoadIndexFile(index_path, store_id, size, kMaxRecordBytes, &indexed, &covered, &why);
  if (!have_index && size > kDataHeaderSize)
    AppLog("tile store %s: rebuilding the index from the data file (%s)", data_path.c_str(),
           why.c_str());
  const uint64_t scan_from = have_index ? covered : kDataHeaderSize;
  std::vector<Entry> scanned;
  ScanResult scan = ScanRecords(fd, scan_from, size, kMaxRecordBytes, [&](const Entry& e) {
    scanned.push_back(e);
    return true;
  });
  if (scan.io_error) return fail(SysError(data_path, "cannot read", 0) + ": " + scan.error);
  // Damage inside the file (the torn end is reported below).
  const uint64_t torn = size - scan.good_end;
  const uint64_t inner_skipped = scan.skipped_bytes > torn ? scan.skipped_bytes - torn : 0;
  if (scan.damaged_records > 0 || inner_skipped > 0)
    AppLog("tile store %s: %llu damaged records and %llu bytes without records skipped",
           data_path.c_str(), static_cast<unsigned long long>(scan.damaged_records),
           static_cast<unsigned long long>(inner_skipped));
  if (scan.good_end < size) {
    // The torn end of an interrupted append (or garbage): cut, so that the next record follows
    // the last good one. Should that fail, appends overwrite the tail and the next open cuts it.
    if (::ftruncate(fd, static_cast<off_t>(scan.good_end)) != 0)
      AppLog("%s", SysError(data_path, "cannot cut the torn end", errno).c_str());
    else
      AppLog("tile store %s: cut %llu bytes of torn data at %llu", data_path.c_str(),
             static_cast<unsigned long long>(torn), static_cast<unsigned long long>(scan.good_end));
  }
  const uint64_t scanned_records = scanned.size();
  KeepNewestPerKey(scanned);
  std::vector<Entry> merged = have_index ? MergeNewer(indexed, scanned) : std::move(scanned);
  {
    std::unique_lock lock(index_lock_);
    file_ = std::move(file);
    sorted_ = std::move(merged);
    recent_.clear();
    count_ = sorted_.size();
  }
  end_.store(scan.good_end, std::memory_order_release);
  store_id_ = store_id;
  records_since_save_ = scanned_records;
  bytes_since_save_ = scan.good_end - scan_from;
  index_dirty_ = !have_index || scan.good_end != covered;
  // A rebuilt index is saved at once so that a second crash does not cost the whole scan again.
  if (index_dirty_ && (!have_index || bytes_since_save_ >= options_.index_save_bytes ||
                       records_since_save_ >= options_.index_save_records))
    SaveIndex(nullptr);
  return true;
}

bool CTileStore::Close(std::string* error) {
  std::lock_guard write_lock(write_mutex_);
  return CloseLocked(error);
}

bool CTileStore::CloseLocked(std::string* error) {
  if (!file_) return true;
  bool ok = !index_dirty_ || SaveIndex(error);
  ::flock(file_->fd, LOCK_UN);
  // Readers still inside a read keep the descriptor alive through their reference; the memory
  // of the index is released outside the lock.
  std::shared_ptr<DataFile> old_file;
  std::vector<Entry> old_sorted;
  std::unordered_map<uint64_t, Entry> old_recent;
  {
    std::unique_lock lock(index_lock_);
    old_file.swap(file_);
    old_sorted.swap(sorted_);
    old_recent.swap(recent_);
    count_ = 0;
  }
  end_.store(0, std::memory_order_release);
  index_dirty_ = false;
  records_since_save_ = bytes_since_save_ = 0;
  return ok;
}

// ---- index upkeep ---------------------------------------------------------------------------
void CTileStore::InsertEntry(const Entry& entry) {
  bool is_new = !FindEntry(entry.key, nullptr);
  std::unique_lock lock(index_lock_);
  recent_[entry.key] = entry;
  if (is_new) ++count_;
}

void CTileStore::MergeRecent() {
  if (recent_.empty()) return;
  std::vector<Entry> newer;
  newer.reserve(recent_.size());
  for (const auto& [key, entry] : recent_) newer.push_back(entry);
  std::sort(newer.begin(), newer.end(), KeyLess);
  // Built while readers go on using the old parts; swapped in under the lock in a moment.
  std::vector<Entry> merged = MergeNewer(sorted_, newer);
  std::unordered_map<uint64_t, Entry> old_recent;
  {
    std::unique_lock lock(index_lock_);
    sorted_.swap(merged);
    recent_.swap(old_recent);
  }
}

bool CTileStore::SaveIndex(std::string* error) {
  if (!file_) return true;
  MergeRecent();
  records_since_save_ = bytes_since_save_ = 0;
  const std::string path = IndexPath();
  auto fail = [&](const std::string& text) {
    AppLog("tile store: %s", text.c_str());
    if (error) *error = text;
    return false;
  };
  // The index must never cover data that is not on the disk yet: after a power cut it would
  // name records that were never written.
  if (::fdatasync(file_->fd) != 0) return fail(SysError(DataPath(), "cannot flush", errno));
  std::vector<uint8_t> bytes =
      EncodeIndexFile(store_id_, end_.load(std::memory_order_relaxed), sorted_);
  std::string why;
  if (!WriteFileAtomic(path, bytes, &why)) return fail(why);
  index_dirty_ = false;
  return true;
}

bool CTileStore::Flush(std::string* error) {
  std::lock_guard write_lock(write_mutex_);
  return !index_dirty_ || SaveIndex(error);
}

// ---- writing --------------------------------------------------------------------------------
TileWriteResult CTileStore::Write(uint64_t key, const void* data, size_t length, bool compare,
                                  std::string* error) {
  std::lock_guard write_lock(write_mutex_);
  auto fail = [&](TileWriteResult result, const std::string& text) {
    if (error) *error = text;
    return result;
  };
  if (!file_) return fail(TileWriteResult::kFailed, DataPath() + ": tile store not open");
  if (length > kMaxRecordBytes)
    return fail(TileWriteResult::kFailed, DataPath() + ": tile of " + std::to_string(length) +
                                              " bytes is too large to store");
  if (length > 0 && data == nullptr) return fail(TileWriteResult::kFailed, "no tile bytes");
  const auto* bytes = static_cast<const uint8_t*>(data);
  const uint32_t crc = Crc32c(bytes, length);

  if (compare) {
    Entry old;
    if (FindEntry(key, &old) && old.length == length && old.crc == crc) {
      std::vector<uint8_t> stored;
      // A stored record that cannot be read back is simply replaced below.
      if (ReadRecord(*file_, old, stored) &&
          (length == 0 || std::memcmp(stored.data(), bytes, length) == 0))
        return TileWriteResult::kUnchanged;
    }
  }

  const uint64_t offset = end_.load(std::memory_order_relaxed);
  uint8_t header[kRecordHeaderSize];
  EncodeRecordHeader(RecordHeader{static_cast<uint32_t>(length), key, crc}, header);
  const size_t total = kRecordHeaderSize + length;
  size_t done = 0;
  int err = 0;
  while (done < total) {
    iovec parts[2];
    int count = 0;
    if (done < kRecordHeaderSize) {
      parts[count++] = {header + done, kRecordHeaderSize - done};
      if (length > 0) parts[count++] = {const_cast<uint8_t*>(bytes), length};
    } else {
      parts[count++] = {const_cast<uint8_t*>(bytes) + (done - kRecordHeaderSize), total - done};
    }
    ssize_t n = ::pwritev(file_->fd, parts, count, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    if (n == 0) {
      err = ENOSPC;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (err != 0) {
    // Back to the last good length, so that the data file stays a clean run of records; if even
    // that fails the next append overwrites the piece and an open would cut it.
    if (::ftruncate(file_->fd, static_cast<off_t>(offset)) != 0)
      AppLog("%s", SysError(DataPath(), "cannot cut a failed append", errno).c_str());
    std::string text = SysError(DataPath(), IsFullDisk(err) ? "disk full" : "write failed", err);
    AppLog("tile store: %s", text.c_str());
    return fail(IsFullDisk(err) ? TileWriteResult::kDiskFull : TileWriteResult::kFailed, text);
  }

  end_.store(offset + total, std::memory_order_release);
  InsertEntry(Entry{key, offset, static_cast<uint32_t>(length), crc});
  index_dirty_ = true;
  ++records_since_save_;
  bytes_since_save_ += total;
  if (recent_.size() >= options_.merge_records) MergeRecent();
  // The record is safe in the data file whatever happens to the index file, so a failed save
  // (logged) does not fail the write; it is tried again after the next batch.
  if (bytes_since_save_ >= options_.index_save_bytes ||
      records_since_save_ >= options_.index_save_records)
    SaveIndex(nullptr);
  return TileWriteResult::kWritten;
}

// ---- reading --------------------------------------------------------------------------------
bool CTileStore::ReadRecord(const DataFile& file, const Entry& entry,
                            std::vector<uint8_t>& out) const {
  out.resize(entry.length);
  uint8_t header[kRecordHeaderSize];
  const size_t total = kRecordHeaderSize + entry.length;
  size_t done = 0;
  while (done < total) {
    iovec parts[2];
    int count = 0;
    if (done < kRecordHeaderSize) {
      parts[count++] = {header + done, kRecordHeaderSize - done};
      if (entry.length > 0) parts[count++] = {out.data(), entry.length};
    } else {
      parts[count++] = {out.data() + (done - kRecordHeaderSize), total - done};
    }
    ssize_t n = ::preadv(file.fd, parts, count, static_cast<off_t>(entry.offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  RecordHeader h;
  if (!DecodeRecordHeader(header, kMaxRecordBytes, &h) || h.key != entry.key ||
      h.length != entry.length || h.crc != entry.crc)
    return false;
  return !options_.verify_reads || Crc32c(out.data(), out.size()) == entry.crc;
}

void CTileStore::DropDamaged(const std::shared_ptr<DataFile>& file, const Entry& entry) {
  std::lock_guard write_lock(write_mutex_);
  Entry current;
  // Reopened or superseded meanwhile: the damaged record is no longer the one indexed.
  if (file_ != file || !FindEntry(entry.key, &current) || current.offset != entry.offset) return;
  AppLog("tile store %s: record of key %016llx at %llu is damaged and dropped", DataPath().c_str(),
         static_cast<unsigned long long>(entry.key), static_cast<unsigned long long>(entry.offset));
  std::unique_lock lock(index_lock_);
  recent_.erase(entry.key);
  auto it = std::lower_bound(sorted_.begin(), sorted_.end(), entry, KeyLess);
  if (it != sorted_.end() && it->key == entry.key) sorted_.erase(it);
  --count_;
  index_dirty_ = true;
}

bool CTileStore::Read(uint64_t key, std::vector<uint8_t>& out) {
  std::shared_ptr<DataFile> file;
  Entry entry;
  {
    std::shared_lock lock(index_lock_);
    if (!file_ || !FindEntry(key, &entry)) return false;
    file = file_;
  }
  if (ReadRecord(*file, entry, out)) return true;
  DropDamaged(file, entry);
  out.clear();
  return false;
}

bool CTileStore::IsStored(uint64_t key) const {
  std::shared_lock lock(index_lock_);
  return file_ && FindEntry(key, nullptr);
}

bool CTileStore::ReadByIndex(uint64_t n, uint64_t* key, std::vector<uint8_t>& out) {
  std::shared_ptr<DataFile> file;
  Entry entry;
  {
    std::lock_guard write_lock(write_mutex_);
    if (!file_) return false;
    MergeRecent();
    if (n >= sorted_.size()) return false;
    entry = sorted_[n];
    file = file_;
  }
  if (!ReadRecord(*file, entry, out)) {
    DropDamaged(file, entry);
    return false;
  }
  if (key) *key = entry.key;
  return true;
}

std::vector<uint64_t> CTileStore::GetKeys() {
  std::lock_guard write_lock(write_mutex_);
  MergeRecent();
  std::vector<uint64_t> keys;
  keys.reserve(sorted_.size());
  for (const Entry& e : sorted_) keys.push_back(e.key);
  return keys;
}

bool CTileStore::ReadNextRecord(uint64_t& position, uint64_t* key, std::vector<uint8_t>& out) {
  std::shared_ptr<DataFile> file;
  {
    std::shared_lock lock(index_lock_);
    if (!file_) return false;
    file = file_;
  }
  uint64_t pos = std::max<uint64_t>(position, kDataHeaderSize);
  // The data file is open for random access, so a walk asks for its own read-ahead: the next
  // two megabytes whenever it enters a new one.
  constexpr uint64_t kAhead = 1u << 20;
  if (position == 0) ::posix_fadvise(file->fd, 0, 2 * kAhead, POSIX_FADV_WILLNEED);
  for (;;) {
    const uint64_t end = end_.load(std::memory_order_acquire);
    if (pos >= end || end - pos < kRecordHeaderSize) {
      position = pos;
      return false;
    }
    uint8_t header[kRecordHeaderSize];
    RecordHeader h;
    if (!ReadFull(file->fd, header, kRecordHeaderSize, pos)) {
      position = pos;
      return false;
    }
    if (!DecodeRecordHeader(header, kMaxRecordBytes, &h) ||
        h.length > end - pos - kRecordHeaderSize) {
      // A stretch that the open found damaged: go on at the next sound record.
      uint64_t next = end;
      ScanRecords(file->fd, pos + 1, end, kMaxRecordBytes, [&](const Entry& e) {
        next = e.offset;
        return false;
      });
      pos = next;
      continue;
    }
    Entry entry;
    bool live;
    {
      std::shared_lock lock(index_lock_);
      live = file_ == file && FindEntry(h.key, &entry) && entry.offset == pos;
    }
    const uint64_t record_end = pos + kRecordHeaderSize + h.length;
    if (pos / kAhead != record_end / kAhead)
      ::posix_fadvise(file->fd, static_cast<off_t>(record_end / kAhead * kAhead), 2 * kAhead,
                      POSIX_FADV_WILLNEED);
    if (live) {
      if (ReadRecord(*file, entry, out)) {
        if (key) *key = h.key;
        position = record_end;
        return true;
      }
      DropDamaged(file, entry);
    }
    pos = record_end;
  }
}

}  // namespace velmora
