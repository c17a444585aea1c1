// Fuzz entry point of the wave file reader (the sounds of the map's sound objects): any bytes
// must read or fail cleanly; a sound that reads is of a playable format, holds whole frames, and
// reads back the same from the wave file written of it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sound/wave_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmora;
  WaveData wave;
  std::string error;
  if (!ParseWave(data, size, &wave, &error)) {
    if (error.empty() || !wave.samples.empty()) __builtin_trap();
    return 0;
  }
  const WaveFormat& f = wave.format;
  if ((f.channels != 1 && f.channels != 2) || (f.bits_per_sample != 8 && f.bits_per_sample != 16)) __builtin_trap();
  if (f.sample_rate == 0 || wave.samples.empty() || wave.samples.size() % f.BytesPerFrame() != 0) __builtin_trap();
  if (wave.samples.size() > kMaxWaveDataBytes) __builtin_trap();
  const std::vector<uint8_t> again = BuildWaveFile(f, wave.samples);
  WaveData back;
  if (!ParseWave(again.data(), again.size(), &back, &error) || back.samples != wave.samples ||
      back.format.sample_rate != f.sample_rate || back.format.channels != f.channels)
    __builtin_trap();
  return 0;
}
