// The wave file reader and writer.
#include "platform/sound/wave_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "platform/fs.h"

namespace velmora {
namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;
constexpr uint32_t kMaxSampleRate = 768000;
// A file may carry other chunks (lists, cue points) beside the sound; this many at most.
constexpr int kMaxChunks = 4096;

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

bool Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return false;
}

struct FmtChunk {
  uint16_t tag = 0;
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t block_align = 0;
  uint16_t bits = 0;
};

bool ReadFmt(const uint8_t* p, uint32_t size, FmtChunk* fmt, std::string* error) {
  if (size < 16) return Fail(error, "wave format record too short");
  fmt->tag = U16(p);
  fmt->channels = U16(p + 2);
  fmt->rate = U32(p + 4);
  fmt->block_align = U16(p + 12);
  fmt->bits = U16(p + 14);
  if (fmt->tag == kTagExtensible) {
    if (size < 40) return Fail(error, "extensible wave format record too short");
    const uint16_t extra = U16(p + 16);
    if (extra < 22) return Fail(error, "extensible wave format record too short");
    // The sub-format GUID's first two bytes hold the plain format tag.
    fmt->tag = U16(p + 24);
  }
  if (fmt->tag != kTagPcm && fmt->tag != kTagFloat) return Fail(error, "wave data is compressed (only PCM and float)");
  if (fmt->channels < 1 || fmt->channels > 2) return Fail(error, "wave files of more than two channels are not played");
  if (fmt->rate < 1 || fmt->rate > kMaxSampleRate) return Fail(error, "wave sample rate out of range");
  const bool pcm_ok = fmt->tag == kTagPcm && (fmt->bits == 8 || fmt->bits == 16 || fmt->bits == 24 || fmt->bits == 32);
  const bool float_ok = fmt->tag == kTagFloat && fmt->bits == 32;
  if (!pcm_ok && !float_ok) return Fail(error, "wave sample size not supported");
  if (fmt->block_align != fmt->channels * (fmt->bits / 8)) return Fail(error, "wave block alignment does not match");
  return true;
}

int16_t Clamp16(double v) {
  if (!(v == v)) return 0;  // NaN
  v = std::round(v);
  return static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
}

// 24-bit, 32-bit and float samples become 16-bit ones.
void ConvertTo16(const FmtChunk& fmt, const uint8_t* data, size_t bytes, std::vector<uint8_t>* out) {
  const size_t size = fmt.bits / 8u;
  const size_t count = bytes / size;
  out->resize(count * 2);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* s = data + i * size;
    int16_t v;
    if (fmt.tag == kTagFloat) {
      float f;
      std::memcpy(&f, s, 4);
      v = Clamp16(double(f) * 32767.0);
    } else if (size == 3) {
      v = static_cast<int16_t>(static_cast<uint16_t>(s[1] | (s[2] << 8)));
    } else {
      v = static_cast<int16_t>(static_cast<uint16_t>(s[2] | (s[3] << 8)));
    }
    (*out)[2 * i] = static_cast<uint8_t>(v & 0xFF);
    (*out)[2 * i + 1] = static_cast<uint8_t>((static_cast<uint16_t>(v) >> 8) & 0xFF);
  }
}

}  // namespace

bool ParseWave(const uint8_t* data, size_t size, WaveData* out, std::string* error) {
  if (!out) return Fail(error, "no output");
  *out = WaveData();
  if (!data || size < 12) return Fail(error, "not a wave file (too short)");
  if (std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0)
    return Fail(error, "not a wave file (no RIFF WAVE header)");
  // Writers that stream often leave the RIFF length wrong; the chunks themselves are checked
  // against the bytes that exist.
  size_t end = size;
  const uint32_t riff = U32(data + 4);
  if (riff >= 4 && size_t(riff) + 8 < end) end = size_t(riff) + 8;

  FmtChunk fmt;
  bool have_fmt = false;
  size_t pos = 12;
  for (int chunks = 0; pos + 8 <= end; ++chunks) {
    if (chunks >= kMaxChunks) return Fail(error, "too many chunks in the wave file");
    const uint8_t* head = data + pos;
    const uint32_t length = U32(head + 4);
    const size_t body = pos + 8;
    if (length > end - body) {
      if (std::memcmp(head, "data", 4) == 0) return Fail(error, "wave file cut short (sound data incomplete)");
      return Fail(error, "wave file cut short (a chunk runs past the end)");
    }
    if (std::memcmp(head, "fmt ", 4) == 0) {
      if (have_fmt) return Fail(error, "two format records in the wave file");
      if (!ReadFmt(data + body, length, &fmt, error)) return false;
      have_fmt = true;
    } else if (std::memcmp(head, "data", 4) == 0) {
      if (!have_fmt) return Fail(error, "wave sound data before its format");
      if (length > kMaxWaveDataBytes) return Fail(error, "wave sound data too large");
      const size_t usable = length - length % fmt.block_align;
      if (usable == 0) return Fail(error, "wave file holds no sound");
      WaveData wave;
      wave.format.channels = fmt.channels;
      wave.format.sample_rate = fmt.rate;
      try {
        if (fmt.tag == kTagPcm && fmt.bits <= 16) {
          wave.format.bits_per_sample = fmt.bits;
          wave.samples.assign(data + body, data + body + usable);
        } else {
          wave.format.bits_per_sample = 16;
          ConvertTo16(fmt, data + body, usable, &wave.samples);
        }
      } catch (const std::bad_alloc&) {
        return Fail(error, "not enough memory for the wave sound data");
      }
      *out = std::move(wave);
      return true;
    }
    pos = body + length + (length & 1u);  // chunks are padded to an even length
  }
  return Fail(error, have_fmt ? "wave file has no sound data" : "wave file has no format record");
}

bool ReadWaveFile(const std::string& path, WaveData* out, std::string* error) {
  if (out) *out = WaveData();
  std::error_code ec;
  const uintmax_t bytes = std::filesystem::file_size(path, ec);
  if (ec) return Fail(error, "the sound file cannot be opened");
  // Headers and other chunks beside the sound: a megabyte is far more than any writer adds.
  if (bytes > kMaxWaveDataBytes + (size_t(1) << 20)) return Fail(error, "the sound file is too large");
  std::string read_error;
  const std::optional<std::vector<uint8_t>> file = ReadFileBytes(path, &read_error);
  if (!file) {
    if (error) *error = "the sound file cannot be read: " + read_error;
    return false;
  }
  return ParseWave(file->data(), file->size(), out, error);
}

std::vector<uint8_t> BuildWaveFile(const WaveFormat& format, const std::vector<uint8_t>& samples) {
  const uint32_t data_bytes = static_cast<uint32_t>(samples.size());
  std::vector<uint8_t> out(44 + size_t(data_bytes) + (data_bytes & 1u), 0);
  auto u16 = [&](size_t at, uint32_t v) {
    out[at] = static_cast<uint8_t>(v & 0xFF);
    out[at + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
  };
  auto u32 = [&](size_t at, uint32_t v) {
    u16(at, v & 0xFFFF);
    u16(at + 2, v >> 16);
  };
  std::memcpy(&out[0], "RIFF", 4);
  u32(4, static_cast<uint32_t>(out.size() - 8));
  std::memcpy(&out[8], "WAVEfmt ", 8);
  u32(16, 16);
  u16(20, kTagPcm);
  u16(22, format.channels);
  u32(24, format.sample_rate);
  u32(28, format.BytesPerSecond());
  u16(32, format.BytesPerFrame());
  u16(34, format.bits_per_sample);
  std::memcpy(&out[36], "data", 4);
  u32(40, data_bytes);
  if (data_bytes) std::memcpy(&out[44], samples.data(), data_bytes);
  return out;
}

}  // namespace velmora
