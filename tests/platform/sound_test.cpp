// The sound layer: wave files of every sample format read back to the samples we wrote, and files
// that are cut short or lie about their sizes refused with a reason; buffers on the null device
// keeping time (the cursor runs at the byte rate and wraps when looping, stops at the end when
// not), the stereo mix-down of positional buffers; and the same calls on OpenAL's own output.
#include "platform/sound/sound_device.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/fs.h"
#include "platform/sound/wave_file.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

std::vector<uint8_t> Ramp16(size_t frames, int channels) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < frames * size_t(channels); ++i) {
    const auto v = static_cast<uint16_t>(static_cast<int16_t>(int(i * 37) - 16000));
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
  }
  return out;
}

void PutU16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// A wave file in any sample format, with its own format record.
std::vector<uint8_t> WaveOf(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                            const std::vector<uint8_t>& data, bool extensible = false) {
  std::vector<uint8_t> b(12);
  std::memcpy(b.data(), "RIFF", 4);
  std::memcpy(b.data() + 8, "WAVE", 4);
  const uint32_t fmt_size = extensible ? 40 : 16;
  const size_t fmt = b.size();
  b.resize(fmt + 8 + fmt_size);
  std::memcpy(&b[fmt], "fmt ", 4);
  PutU32(b, fmt + 4, fmt_size);
  PutU16(b, fmt + 8, extensible ? 0xFFFE : tag);
  PutU16(b, fmt + 10, channels);
  PutU32(b, fmt + 12, rate);
  PutU32(b, fmt + 16, rate * channels * bits / 8);
  PutU16(b, fmt + 20, static_cast<uint16_t>(channels * bits / 8));
  PutU16(b, fmt + 22, bits);
  if (extensible) {
    PutU16(b, fmt + 24, 22);
    PutU16(b, fmt + 26, bits);
    PutU16(b, fmt + 32, tag);  // the sub-format GUID's first bytes
  }
  const size_t data_at = b.size();
  b.resize(data_at + 8);
  std::memcpy(&b[data_at], "data", 4);
  PutU32(b, data_at + 4, static_cast<uint32_t>(data.size()));
  b.insert(b.end(), data.begin(), data.end());
  PutU32(b, 4, static_cast<uint32_t>(b.size() - 8));
  return b;
}

int16_t Sample16(const WaveData& w, size_t i) {
  return static_cast<int16_t>(static_cast<uint16_t>(w.samples[2 * i] | (w.samples[2 * i + 1] << 8)));
}

TEST(WaveFile, EveryFormatReadsBackToItsSamples) {
  const WaveFormat mono16{1, 22050, 16};
  const std::vector<uint8_t> samples = Ramp16(1000, 1);
  WaveData w;
  std::string error;
  const std::vector<uint8_t> file = BuildWaveFile(mono16, samples);
  ASSERT_TRUE(ParseWave(file.data(), file.size(), &w, &error)) << error;
  EXPECT_EQ(w.format.channels, 1);
  EXPECT_EQ(w.format.sample_rate, 22050u);
  EXPECT_EQ(w.format.bits_per_sample, 16);
  EXPECT_EQ(w.samples, samples);
  EXPECT_EQ(w.FrameCount(), 1000u);

  // 8-bit stereo with an odd data length: the padding byte is not sound, the last half frame
  // is dropped.
  std::vector<uint8_t> bytes8 = {0, 255, 128, 64, 32};
  std::vector<uint8_t> odd = WaveOf(1, 2, 8000, 8, bytes8);
  odd.push_back(0);
  ASSERT_TRUE(ParseWave(odd.data(), odd.size(), &w, &error)) << error;
  EXPECT_EQ(w.format.bits_per_sample, 8);
  EXPECT_EQ(w.samples, (std::vector<uint8_t>{0, 255, 128, 64}));

  // 24-bit, 32-bit and float samples become 16-bit ones (the high bytes; float scaled).
  std::vector<uint8_t> b24 = {0x11, 0x34, 0x12, 0xFF, 0xFF, 0x80};
  ASSERT_TRUE(ParseWave(WaveOf(1, 1, 48000, 24, b24).data(), WaveOf(1, 1, 48000, 24, b24).size(), &w, &error));
  EXPECT_EQ(w.format.bits_per_sample, 16);
  EXPECT_EQ(Sample16(w, 0), 0x1234);
  EXPECT_EQ(Sample16(w, 1), int16_t(0x80FF));
  std::vector<uint8_t> f32(12);
  const float values[3] = {0.5f, -1.5f, 0.0f};
  std::memcpy(f32.data(), values, 12);
  const std::vector<uint8_t> float_file = WaveOf(3, 1, 44100, 32, f32, true);
  ASSERT_TRUE(ParseWave(float_file.data(), float_file.size(), &w, &error)) << error;
  EXPECT_EQ(Sample16(w, 0), 16384);  // 0.5 * 32767 rounded
  EXPECT_EQ(Sample16(w, 1), -32768);  // clipped
  EXPECT_EQ(Sample16(w, 2), 0);

  // Other chunks before and after the sound are skipped.
  std::vector<uint8_t> listed = WaveOf(1, 1, 8000, 16, Ramp16(4, 1));
  std::vector<uint8_t> list = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
  listed.insert(listed.begin() + 12, list.begin(), list.end());
  PutU32(listed, 4, static_cast<uint32_t>(listed.size() - 8));
  ASSERT_TRUE(ParseWave(listed.data(), listed.size(), &w, &error)) << error;
  EXPECT_EQ(w.FrameCount(), 4u);
}

TEST(WaveFile, DamagedAndHostileFilesAreRefusedWithAReason) {
  const std::vector<uint8_t> good = WaveOf(1, 2, 44100, 16, Ramp16(100, 2));
  WaveData w;
  std::string error;
  auto refused = [&](std::vector<uint8_t> bytes, const std::string& why) {
    w.samples = {1, 2, 3};
    error.clear();
    EXPECT_FALSE(ParseWave(bytes.data(), bytes.size(), &w, &error)) << why;
    EXPECT_NE(error.find(why), std::string::npos) << "got: " << error;
    EXPECT_TRUE(w.samples.empty());
  };
  // Every cut of the file is refused (the data chunk then claims more than there is).
  for (size_t cut = 0; cut < good.size(); cut += 7) refused({good.begin(), good.begin() + long(cut)}, "");
  refused({good.begin(), good.end() - 1}, "cut short");
  std::vector<uint8_t> b = good;
  PutU32(b, 40, 0xFFFFFFF0u);  // the data chunk's length
  refused(b, "sound data incomplete");
  b = good;
  PutU32(b, 16, 0x7FFFFFFF);  // the format record's length
  refused(b, "runs past the end");
  b = good;
  PutU16(b, 22, 3);  // three channels
  refused(b, "more than two channels");
  b = good;
  PutU16(b, 22, 0);
  refused(b, "more than two channels");
  b = good;
  PutU16(b, 20, 2);  // ADPCM
  refused(b, "compressed");
  b = good;
  PutU32(b, 24, 0);  // no sample rate
  refused(b, "sample rate");
  b = good;
  PutU16(b, 32, 3);  // block alignment that does not match
  refused(b, "block alignment");
  b = good;
  std::memcpy(&b[12], "junk", 4);  // the format record hidden: data before any format
  refused(b, "before its format");
  refused(WaveOf(1, 1, 8000, 16, {}), "no sound");
  refused({'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '}, "not a wave file");

  test::TempDir dir;
  EXPECT_FALSE(ReadWaveFile(dir.File("missing.wav"), &w, &error));
  EXPECT_NE(error.find("cannot be opened"), std::string::npos);
  ASSERT_TRUE(WriteFileAtomic(dir.File("a.wav"), good));
  EXPECT_TRUE(ReadWaveFile(dir.File("a.wav"), &w, &error)) << error;
  EXPECT_EQ(w.FrameCount(), 100u);
}

// Waits until `done` holds (true) or a generous deadline passes (false).
template <class F>
bool Eventually(F done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(NullSoundDevice, BuffersKeepTime) {
  CSoundDevice device;
  EXPECT_EQ(device.Backend(), SoundBackend::kNone);
  EXPECT_EQ(device.Open(SoundDeviceChoice::kNull), SoundBackend::kNull);
  EXPECT_EQ(device.DeviceName(), "null");
  WaveData wave;
  wave.format = WaveFormat{2, 8000, 16};  // 32000 bytes a second
  wave.samples = Ramp16(800, 2);          // 0.1 s, 3200 bytes
  std::string error;
  std::unique_ptr<CSoundBuffer> looping = device.CreateBuffer(wave, 0, &error);
  ASSERT_TRUE(looping) << error;
  EXPECT_EQ(looping->Size(), 3200u);
  EXPECT_EQ(looping->GetStatus(), 0u);
  EXPECT_EQ(looping->GetCurrentPosition(), 0u);
  EXPECT_TRUE(looping->SetCurrentPosition(1001));  // whole frames
  EXPECT_EQ(looping->GetCurrentPosition(), 1000u);
  EXPECT_FALSE(looping->SetCurrentPosition(3201));
  ASSERT_TRUE(looping->SetCurrentPosition(0));
  ASSERT_TRUE(looping->Play(true));
  EXPECT_EQ(looping->GetStatus(), kSoundPlaying | kSoundLooping);
  // The cursor runs and comes round again.
  uint32_t highest = 0;
  EXPECT_TRUE(Eventually([&] {
    const uint32_t at = looping->GetCurrentPosition();
    EXPECT_LT(at, 3200u);
    EXPECT_EQ(at % 4, 0u);
    highest = std::max(highest, at);
    return highest > 2000 && at < 1000;
  }));
  EXPECT_EQ(looping->GetStatus(), kSoundPlaying | kSoundLooping);
  looping->Stop();
  const uint32_t stopped_at = looping->GetCurrentPosition();
  EXPECT_EQ(looping->GetStatus(), 0u);
  EXPECT_EQ(looping->GetCurrentPosition(), stopped_at);

  // Played once it ends at the end.
  std::unique_ptr<CSoundBuffer> once = device.CreateBuffer(wave, 0, &error);
  ASSERT_TRUE(once->Play(false));
  EXPECT_TRUE(Eventually([&] { return once->GetStatus() == 0; }));
  EXPECT_EQ(once->GetCurrentPosition(), 3200u);

  // A positional buffer holds the stereo sound mixed to mono, and remembers where it is.
  std::unique_ptr<CSoundBuffer> placed = device.CreateBuffer(wave, kSoundPositional, &error);
  ASSERT_TRUE(placed);
  EXPECT_EQ(placed->Format().channels, 1);
  EXPECT_EQ(placed->Size(), 1600u);
  placed->SetPosition(-0.5f, 0.25f, 0.0f);
  float x, y, z;
  placed->GetPosition(&x, &y, &z);
  EXPECT_FLOAT_EQ(x, -0.5f);
  EXPECT_FLOAT_EQ(y, 0.25f);

  // Nothing to play is refused; buffers outlive the closed device.
  WaveData empty;
  empty.format = wave.format;
  EXPECT_FALSE(device.CreateBuffer(empty, 0, &error));
  EXPECT_FALSE(error.empty());
  device.Close();
  EXPECT_EQ(placed->Format().sample_rate, 8000u);
}

TEST(OpenAlSoundDevice, PlaysWhenAnOutputOpens) {
  // OpenAL's own silent output when no sound card or server answers (never our null device).
  setenv("ALSOFT_DRIVERS", "null", 0);
  CSoundDevice device;
  const SoundBackend backend = device.Open();
  if (backend != SoundBackend::kOpenAL) GTEST_SKIP() << "no OpenAL output: " << device.OpenError();
  WaveData wave;
  wave.format = WaveFormat{1, 11025, 16};
  wave.samples = Ramp16(11025, 1);
  std::string error;
  std::unique_ptr<CSoundBuffer> buffer = device.CreateBuffer(wave, kSoundPositional, &error);
  ASSERT_TRUE(buffer) << error;
  EXPECT_EQ(buffer->GetStatus(), 0u);
  ASSERT_TRUE(buffer->SetCurrentPosition(2000));
  EXPECT_EQ(buffer->GetCurrentPosition(), 2000u);
  ASSERT_TRUE(buffer->Play(true));
  EXPECT_EQ(buffer->GetStatus(), kSoundPlaying | kSoundLooping);
  buffer->SetPosition(0.5f, 0.0f, 1.0f);
  float x, y, z;
  buffer->GetPosition(&x, &y, &z);
  EXPECT_FLOAT_EQ(x, 0.5f);
  EXPECT_FLOAT_EQ(z, 1.0f);
  buffer->Stop();
  EXPECT_EQ(buffer->GetStatus(), 0u);
  device.Close();
  buffer.reset();  // released after the device let go of the output
}

}  // namespace
}  // namespace velmora
