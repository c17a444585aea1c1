// Wave files (RIFF "WAVE"): the reader of the sounds that map objects play. PCM of 8 to 32 bits
// and 32-bit float, mono or stereo, in the plain or the extensible format record; samples come
// out as the sound layer plays them: 8-bit unsigned or 16-bit signed little-endian.
//
// The bytes come from outside: every chunk length is checked against what remains, the format
// against what can be played, and the sample data against a size limit, so a truncated or
// hostile file gives a clear error and nothing else.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

struct WaveFormat {
  uint16_t channels = 0;         // 1 or 2
  uint32_t sample_rate = 0;      // frames per second, 1 .. 768000
  uint16_t bits_per_sample = 0;  // 8 (unsigned) or 16 (signed) after reading
  uint32_t BytesPerFrame() const { return uint32_t(channels) * (bits_per_sample / 8u); }
  uint32_t BytesPerSecond() const { return BytesPerFrame() * sample_rate; }
};

struct WaveData {
  WaveFormat format;
  std::vector<uint8_t> samples;  // whole frames only
  // Frames of sound.
  size_t FrameCount() const {
    const uint32_t frame = format.BytesPerFrame();
    return frame ? samples.size() / frame : 0;
  }
};

// Largest sample data a wave file may hold (about 25 minutes of 16-bit stereo at 44.1 kHz).
inline constexpr size_t kMaxWaveDataBytes = size_t(256) << 20;

// Reads a wave file from memory. False, with the reason in *error, for anything that is not a
// playable wave file; *out is then left empty.
bool ParseWave(const uint8_t* data, size_t size, WaveData* out, std::string* error = nullptr);
// Reads the file at `path` (refused before reading when it is larger than any wave file we play).
bool ReadWaveFile(const std::string& path, WaveData* out, std::string* error = nullptr);

// A wave file of 16-bit PCM (or 8-bit when bits_per_sample is 8) holding `samples`: what tests
// and tools write.
std::vector<uint8_t> BuildWaveFile(const WaveFormat& format, const std::vector<uint8_t>& samples);

}  // namespace velmora
