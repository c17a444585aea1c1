// Encoding and checking of the tile store files, CRC32C, and the record scan that rebuilds an
// index from the data file.
#include "tiles/tile_store_format.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#if defined(__x86_64__)
#include <nmmintrin.h>
#endif

namespace velmora::tile_store {
namespace {

// ---- CRC32C ---------------------------------------------------------------------------------
// Slicing-by-8 tables for machines without the CRC instruction.
struct CrcTables {
  std::array<std::array<uint32_t, 256>, 8> t{};
  constexpr CrcTables() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0x82F63B78u & (0u - (c & 1u)));
      t[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i)
      for (int s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
  }
};
constexpr CrcTables kCrc;

uint32_t Crc32cSoft(const uint8_t* p, size_t n, uint32_t c) {
  while (n >= 8) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    v ^= c;
    c = kCrc.t[7][v & 0xFF] ^ kCrc.t[6][(v >> 8) & 0xFF] ^ kCrc.t[5][(v >> 16) & 0xFF] ^
        kCrc.t[4][(v >> 24) & 0xFF] ^ kCrc.t[3][(v >> 32) & 0xFF] ^ kCrc.t[2][(v >> 40) & 0xFF] ^
        kCrc.t[1][(v >> 48) & 0xFF] ^ kCrc.t[0][v >> 56];
    p += 8;
    n -= 8;
  }
  while (n--) c = (c >> 8) ^ kCrc.t[0][(c ^ *p++) & 0xFF];
  return c;
}

#if defined(__x86_64__)
// The CRC instruction takes three cycles but can start one every cycle, so three streams over
// neighbouring blocks run about three times as fast as one. The block results are joined by
// moving the earlier register over the later block's length of zeros (the CRC is linear), done
// with four table look-ups per join.
constexpr size_t kLongBlock = 2048;
constexpr size_t kShortBlock = 256;

using ShiftTable = std::array<std::array<uint32_t, 256>, 4>;

// The register after `n` zero bytes, for every byte value in each of the register's four bytes.
ShiftTable MakeShiftTable(size_t n) {
  std::array<uint32_t, 32> basis{};
  for (int bit = 0; bit < 32; ++bit) {
    uint32_t c = 1u << bit;
    for (size_t i = 0; i < n; ++i) c = (c >> 8) ^ kCrc.t[0][c & 0xFF];
    basis[bit] = c;
  }
  ShiftTable table{};
  for (int k = 0; k < 4; ++k)
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t c = 0;
      for (int bit = 0; bit < 8; ++bit)
        if (b & (1u << bit)) c ^= basis[8 * k + bit];
      table[k][b] = c;
    }
  return table;
}

uint32_t Shift(const ShiftTable& t, uint32_t c) {
  return t[0][c & 0xFF] ^ t[1][(c >> 8) & 0xFF] ^ t[2][(c >> 16) & 0xFF] ^ t[3][c >> 24];
}

__attribute__((target("sse4.2"))) uint64_t ThreeStreams(const uint8_t*& p, size_t& n, uint64_t c0,
                                                        size_t block, const ShiftTable& shift) {
  while (n >= 3 * block) {
    uint64_t c1 = 0, c2 = 0;
    for (size_t i = 0; i < block; i += 8) {
      uint64_t a, b, d;
      std::memcpy(&a, p + i, 8);
      std::memcpy(&b, p + block + i, 8);
      std::memcpy(&d, p + 2 * block + i, 8);
      c0 = _mm_crc32_u64(c0, a);
      c1 = _mm_crc32_u64(c1, b);
      c2 = _mm_crc32_u64(c2, d);
    }
    c0 = Shift(shift, static_cast<uint32_t>(c0)) ^ c1;
    c0 = Shift(shift, static_cast<uint32_t>(c0)) ^ c2;
    p += 3 * block;
    n -= 3 * block;
  }
  return c0;
}

__attribute__((target("sse4.2"))) uint32_t Crc32cHard(const uint8_t* p, size_t n, uint32_t c) {
  static const ShiftTable long_shift = MakeShiftTable(kLongBlock);
  static const ShiftTable short_shift = MakeShiftTable(kShortBlock);
  uint64_t c0 = ThreeStreams(p, n, c, kLongBlock, long_shift);
  c0 = ThreeStreams(p, n, c0, kShortBlock, short_shift);
  while (n >= 8) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    c0 = _mm_crc32_u64(c0, v);
    p += 8;
    n -= 8;
  }
  uint32_t c32 = static_cast<uint32_t>(c0);
  while (n--) c32 = _mm_crc32_u8(c32, *p++);
  return c32;
}
bool HaveCrcInstruction() {
  static const bool have = __builtin_cpu_supports("sse4.2");
  return have;
}
#endif

void Put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
void Put64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }
uint32_t Get32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
uint64_t Get64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

}  // namespace

uint32_t Crc32c(const void* data, size_t size, uint32_t crc) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint32_t c = ~crc;
#if defined(__x86_64__)
  if (HaveCrcInstruction()) return ~Crc32cHard(p, size, c);
#endif
  return ~Crc32cSoft(p, size, c);
}

uint32_t Crc32cPortable(const void* data, size_t size, uint32_t crc) {
  return ~Crc32cSoft(static_cast<const uint8_t*>(data), size, ~crc);
}

// ---- headers --------------------------------------------------------------------------------
std::vector<uint8_t> EncodeDataHeader(uint64_t store_id) {
  std::vector<uint8_t> h(kDataHeaderSize, 0);
  std::memcpy(h.data(), kDataMagic, 8);
  Put32(h.data() + 8, kVersion);
  Put32(h.data() + 12, kDataHeaderSize);
  Put64(h.data() + 16, store_id);
  Put32(h.data() + 28, Crc32c(h.data(), 28));
  return h;
}

bool DecodeDataHeader(const uint8_t* bytes, size_t size, uint64_t* store_id) {
  if (size < kDataHeaderSize) return false;
  if (std::memcmp(bytes, kDataMagic, 8) != 0) return false;
  if (Get32(bytes + 8) != kVersion || Get32(bytes + 12) != kDataHeaderSize) return false;
  if (Get32(bytes + 28) != Crc32c(bytes, 28)) return false;
  *store_id = Get64(bytes + 16);
  return true;
}

void EncodeRecordHeader(const RecordHeader& header, uint8_t out[kRecordHeaderSize]) {
  Put32(out, kRecordMagic);
  Put32(out + 4, header.length);
  Put64(out + 8, header.key);
  Put32(out + 16, header.crc);
  Put32(out + 20, Crc32c(out, 20));
}

bool DecodeRecordHeader(const uint8_t* bytes, uint32_t max_length, RecordHeader* header) {
  if (Get32(bytes) != kRecordMagic) return false;
  if (Get32(bytes + 20) != Crc32c(bytes, 20)) return false;
  uint32_t length = Get32(bytes + 4);
  if (length > max_length) return false;
  header->length = length;
  header->key = Get64(bytes + 8);
  header->crc = Get32(bytes + 16);
  return true;
}

// ---- index file -----------------------------------------------------------------------------
std::vector<uint8_t> EncodeIndexFile(uint64_t store_id, uint64_t covered,
                                     const std::vector<TileStoreEntry>& entries) {
  size_t body = entries.size() * sizeof(TileStoreEntry);
  std::vector<uint8_t> out(kIndexHeaderSize + body);
  uint8_t* h = out.data();
  std::memcpy(h, kIndexMagic, 8);
  Put32(h + 8, kVersion);
  Put32(h + 12, sizeof(TileStoreEntry));
  Put64(h + 16, store_id);
  Put64(h + 24, covered);
  Put64(h + 32, entries.size());
  if (body) std::memcpy(h + kIndexHeaderSize, entries.data(), body);
  Put32(h + 40, Crc32c(h + kIndexHeaderSize, body));
  Put32(h + 44, Crc32c(h, 44));
  return out;
}

bool LoadIndexFile(const std::string& path, uint64_t store_id, uint64_t data_size,
                   uint32_t max_length, std::vector<TileStoreEntry>* entries, uint64_t* covered,
                   std::string* why) {
  auto fail = [&](const std::string& reason) {
    if (why) *why = reason;
    entries->clear();
    return false;
  };
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(errno == ENOENT ? "no index file" : std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(std::strerror(errno));
  uint64_t file_size = static_cast<uint64_t>(st.st_size);
  uint8_t h[kIndexHeaderSize];
  if (file_size < kIndexHeaderSize || !ReadFull(fd, h, kIndexHeaderSize, 0))
    return fail("index file too short");
  if (std::memcmp(h, kIndexMagic, 8) != 0 || Get32(h + 44) != Crc32c(h, 44))
    return fail("index header damaged");
  if (Get32(h + 8) != kVersion || Get32(h + 12) != sizeof(TileStoreEntry))
    return fail("index of another version");
  if (Get64(h + 16) != store_id) return fail("index belongs to another data file");
  uint64_t cover = Get64(h + 24);
  uint64_t count = Get64(h + 32);
  if (cover < kDataHeaderSize || cover > data_size) return fail("index ahead of the data file");
  // The count sizes an allocation: it must match the bytes that are really there.
  if (count > (file_size - kIndexHeaderSize) / sizeof(TileStoreEntry) ||
      kIndexHeaderSize + count * sizeof(TileStoreEntry) != file_size)
    return fail("index length does not match its count");
  entries->resize(count);
  size_t body = count * sizeof(TileStoreEntry);
  if (body && !ReadFull(fd, entries->data(), body, kIndexHeaderSize))
    return fail("index unreadable");
  if (Get32(h + 40) != Crc32c(entries->data(), body)) return fail("index entries damaged");
  for (size_t i = 0; i < count; ++i) {
    const TileStoreEntry& e = (*entries)[i];
    if (i > 0 && e.key <= (*entries)[i - 1].key) return fail("index out of order");
    if (e.length > max_length || e.offset < kDataHeaderSize || e.offset > cover ||
        cover - e.offset < kRecordHeaderSize + uint64_t{e.length})
      return fail("index entry outside the data file");
  }
  *covered = cover;
  return true;
}

// ---- scan -----------------------------------------------------------------------------------
bool ReadFull(int fd, void* data, size_t size, uint64_t offset) {
  auto* p = static_cast<uint8_t*>(data);
  while (size > 0) {
    ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = 0;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

namespace {

// A window onto the data file for the sequential scan: large reads, few system calls.
class ScanWindow {
 public:
  ScanWindow(int fd, uint64_t to) : fd_(fd), to_(to) {}
  // Bytes [offset, offset + n) (n <= to - offset), or null after a failed read.
  const uint8_t* Get(uint64_t offset, size_t n) {
    if (offset >= start_ && offset + n <= start_ + length_) return buf_.data() + (offset - start_);
    size_t want = static_cast<size_t>(std::min<uint64_t>(std::max(n, kChunk), to_ - offset));
    if (buf_.size() < want) buf_.resize(want);
    if (!ReadFull(fd_, buf_.data(), want, offset)) {
      failed_errno_ = errno;
      start_ = length_ = 0;
      return nullptr;
    }
    start_ = offset;
    length_ = want;
    return buf_.data();
  }
  int failed_errno() const { return failed_errno_; }

 private:
  static constexpr size_t kChunk = 4u << 20;
  int fd_;
  uint64_t to_;
  std::vector<uint8_t> buf_;
  uint64_t start_ = 0;
  size_t length_ = 0;
  int failed_errno_ = 0;
};

}  // namespace

ScanResult ScanRecords(int fd, uint64_t from, uint64_t to, uint32_t max_length,
                       const std::function<bool(const TileStoreEntry&)>& found) {
  ScanResult result;
  result.good_end = from;
  ScanWindow window(fd, to);
  auto io_failed = [&] {
    result.io_error = true;
    int e = window.failed_errno();
    result.error = e ? std::strerror(e) : "data file shrank while it was read";
    return result;
  };
  // A sound header whose record fits before `to`.
  auto header_at = [&](const uint8_t* p, uint64_t offset, RecordHeader* h) {
    return DecodeRecordHeader(p, max_length, h) && h->length <= to - offset - kRecordHeaderSize;
  };
  uint64_t pos = from;
  while (pos < to && to - pos >= kRecordHeaderSize) {
    const uint8_t* p = window.Get(pos, kRecordHeaderSize);
    if (!p) return io_failed();
    RecordHeader h;
    if (header_at(p, pos, &h)) {
      size_t whole = kRecordHeaderSize + h.length;
      p = window.Get(pos, whole);
      if (!p) return io_failed();
      if (Crc32c(p + kRecordHeaderSize, h.length) == h.crc) {
        ++result.records;
        result.good_end = pos + whole;
        if (!found(TileStoreEntry{h.key, pos, h.length, h.crc})) return result;
      } else {
        ++result.damaged_records;
      }
      pos += whole;
      continue;
    }
    // No record starts here: look for the next sound header. The magic is searched chunk by
    // chunk; a chunk's last three bytes are searched again with the next one.
    uint64_t search = pos + 1;
    uint64_t next = to;
    while (search < to && to - search >= kRecordHeaderSize) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(4u << 20, to - search));
      const uint8_t* base = window.Get(search, n);
      if (!base) return io_failed();
      uint8_t magic[4];
      Put32(magic, kRecordMagic);
      const uint8_t* q = base;
      bool refill = false;
      while (true) {
        q = static_cast<const uint8_t*>(memmem(q, static_cast<size_t>(base + n - q), magic, 4));
        if (!q) break;
        uint64_t c = search + static_cast<uint64_t>(q - base);
        if (to - c < kRecordHeaderSize) break;
        if (c + kRecordHeaderSize > search + n) {  // header crosses the window: read it anew
          search = c;
          refill = true;
          break;
        }
        if (header_at(q, c, &h)) {
          next = c;
          break;
        }
        ++q;
      }
      if (next != to) break;
      if (!refill) {
        if (n <= 3) break;
        search += n - 3;
      }
    }
    result.skipped_bytes += next - pos;
    pos = next;
  }
  if (pos < to) result.skipped_bytes += to - pos;
  return result;
}

}  // namespace velmora::tile_store
