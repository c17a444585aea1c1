// The sound output on OpenAL, and the null output that only keeps time.
#include "platform/sound/sound_device.h"

#include <AL/al.h>
#include <AL/alc.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace velmora {
namespace {

// Every OpenAL call runs under this lock with its output's context current, so outputs opened
// one after another (tests, a reopened device) never see each other's context.
std::mutex g_al_mutex;

uint64_t NowMicros() {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

// Stereo frames mixed down to mono frames of the same sample size.
std::vector<uint8_t> MixToMono(const WaveData& wave) {
  const size_t frames = wave.FrameCount();
  std::vector<uint8_t> mono;
  if (wave.format.bits_per_sample == 8) {
    mono.resize(frames);
    for (size_t i = 0; i < frames; ++i)
      mono[i] = static_cast<uint8_t>((unsigned(wave.samples[2 * i]) + unsigned(wave.samples[2 * i + 1]) + 1) / 2);
  } else {
    mono.resize(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
      const uint8_t* s = &wave.samples[4 * i];
      const int l = static_cast<int16_t>(static_cast<uint16_t>(s[0] | (s[1] << 8)));
      const int r = static_cast<int16_t>(static_cast<uint16_t>(s[2] | (s[3] << 8)));
      const auto v = static_cast<uint16_t>(static_cast<int16_t>((l + r) / 2));
      mono[2 * i] = static_cast<uint8_t>(v & 0xFF);
      mono[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
  }
  return mono;
}

std::string AlcErrorText(ALCdevice* device) {
  const ALCenum code = alcGetError(device);
  char text[64];
  std::snprintf(text, sizeof text, "OpenAL error 0x%X", static_cast<unsigned>(code));
  return text;
}

}  // namespace

struct CSoundDevice::Output {
  SoundBackend backend = SoundBackend::kNull;
  std::string name = "null";
  ALCdevice* device = nullptr;
  ALCcontext* context = nullptr;

  ~Output() {
    if (!context && !device) return;
    std::lock_guard<std::mutex> lock(g_al_mutex);
    if (alcGetCurrentContext() == context) alcMakeContextCurrent(nullptr);
    if (context) alcDestroyContext(context);
    if (device) alcCloseDevice(device);
  }
  // With g_al_mutex held.
  bool MakeCurrent() const { return context && (alcGetCurrentContext() == context || alcMakeContextCurrent(context)); }
};

namespace {

// ---- the null output ----------------------------------------------------------------------------
class CNullSoundBuffer : public CSoundBuffer {
 public:
  CNullSoundBuffer(const WaveFormat& format, uint32_t size, uint32_t flags) : CSoundBuffer(format, size, flags) {}

  bool Play(bool looping) override {
    std::lock_guard<std::mutex> lock(mutex_);
    cursor_ = CursorLocked();
    playing_ = true;
    looping_ = looping;
    started_ = NowMicros();
    return true;
  }
  void Stop() override {
    std::lock_guard<std::mutex> lock(mutex_);
    cursor_ = CursorLocked();
    playing_ = false;
  }
  bool SetCurrentPosition(uint32_t offset) override {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint32_t frame = format_.BytesPerFrame();
    if (offset > size_) return false;
    cursor_ = offset - offset % frame;
    started_ = NowMicros();
    return true;
  }
  uint32_t GetCurrentPosition() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return CursorLocked();
  }
  uint32_t GetStatus() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!playing_) return 0;
    // A buffer played once has stopped when its time has run out.
    if (!looping_ && Advanced() >= uint64_t(size_) - cursor_) return 0;
    return kSoundPlaying | (looping_ ? kSoundLooping : 0);
  }
  void SetPosition(float x, float y, float z) override {
    std::lock_guard<std::mutex> lock(mutex_);
    pos_[0] = x, pos_[1] = y, pos_[2] = z;
  }
  void GetPosition(float* x, float* y, float* z) const override {
    std::lock_guard<std::mutex> lock(mutex_);
    *x = pos_[0], *y = pos_[1], *z = pos_[2];
  }

 private:
  // Bytes played since the last start, in whole frames.
  uint64_t Advanced() const {
    const uint64_t micros = NowMicros() - started_;
    const uint64_t frames = micros * format_.sample_rate / 1000000u;
    return frames * format_.BytesPerFrame();
  }
  uint32_t CursorLocked() const {
    if (!playing_ || size_ == 0) return cursor_;
    const uint64_t at = uint64_t(cursor_) + Advanced();
    if (looping_) return static_cast<uint32_t>(at % size_);
    return static_cast<uint32_t>(std::min<uint64_t>(at, size_));
  }

  mutable std::mutex mutex_;
  bool playing_ = false;
  bool looping_ = false;
  uint32_t cursor_ = 0;
  uint64_t started_ = 0;
  float pos_[3] = {0, 0, 0};
};

// ---- the OpenAL output --------------------------------------------------------------------------
class CAlSoundBuffer : public CSoundBuffer {
 public:
  CAlSoundBuffer(std::shared_ptr<CSoundDevice::Output> output, const WaveFormat& format, uint32_t size,
                 uint32_t flags, ALuint source, ALuint buffer)
      : CSoundBuffer(format, size, flags), output_(std::move(output)), source_(source), buffer_(buffer) {}
  ~CAlSoundBuffer() override {
    std::lock_guard<std::mutex> lock(g_al_mutex);
    if (!output_->MakeCurrent()) return;
    alSourceStop(source_);
    alSourcei(source_, AL_BUFFER, 0);
    alDeleteSources(1, &source_);
    alDeleteBuffers(1, &buffer_);
  }

  bool Play(bool looping) override {
    std::lock_guard<std::mutex> lock(g_al_mutex);
    if (!output_->MakeCurrent()) return false;
    alGetError();
    alSourcei(source_, AL_LOOPING, looping ? AL_TRUE : AL_FALSE);
    ALint state = 0;
    alGetSourcei(source_, AL_SOURCE_STATE, &state);
    if (state != AL_PLAYING) {
      const ALint offset = pending_offset_;
      alSourcePlay(source_);
      // A source starts at its beginning; the cursor set while it was stopped applies now.
      if (offset > 0) alSourcei(source_, AL_BYTE_OFFSET, offset);
    }
    pending_offset_ = 0;
    return alGetError() == AL_NO_ERROR;
  }
  void Stop() override {
    std::lock_guard<std::mutex> lock(g_al_mutex);
    if (!output_->MakeCurrent()) return;
    ALint offset = 0;
    alGetSourcei(source_, AL_BYTE_OFFSET, &offset);
    alSourcePause(source_);
    pending_offset_ = offset;
  }
  bool SetCurrentPosition(uint32_t offset) override {
    if (offset > size_) return false;
    offset -= offset % format_.BytesPerFrame();
    std::lock_guard<std::mutex> lock(g_al_mutex);
    if (!output_->MakeCurrent()) return false;
    ALint state = 0;
    alGetSourcei(source_, AL_SOURCE_STATE, &state);
    if (state == AL_PLAYING) {
      alGetError();
      alSourcei(source_, AL_BYTE_OFFSET, static_cast<ALint>(offset));
      return alGetError() == AL_NO_ERROR;
    }
    alSourceStop(source_);
    pending_offset_ = static_cast<ALint>(offset);
    return true;
  }
  uint32_t GetCurrentPosition() const override {
    std::lock_guard<std::mutex> lock(g_al_mutex);
    if (!output_->MakeCurrent()) return 0;
    ALint state = 0;
    alGetSourcei(source_, AL_SOURCE_STATE, &state);
    if (state != AL_PLAYING && state != AL_PAUSED) return static_cast<uint32_t>(pending_offset_);
    ALint offset = 0;
    alGetSourcei(source_, AL_BYTE_OFFSET, &offset);
    return static_cast<uint32_t>(std::max<ALint>(0, offset));
  }
  uint32_t GetStatus() const override {
    std::lock_guard<std::mutex> lock(g_al_mutex);
    if (!output_->MakeCurrent()) return 0;
    ALint state = 0, looping = 0;
    alGetSourcei(source_, AL_SOURCE_STATE, &state);
    alGetSourcei(source_, AL_LOOPING, &looping);
    if (state != AL_PLAYING) return 0;
    return kSoundPlaying | (looping ? kSoundLooping : 0);
  }
  void SetPosition(float x, float y, float z) override {
    if (!(flags_ & kSoundPositional) || !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return;
    std::lock_guard<std::mutex> lock(g_al_mutex);
    if (!output_->MakeCurrent()) return;
    // OpenAL's frame looks down -z; the buffer's z points ahead.
    alSource3f(source_, AL_POSITION, x, y, -z);
  }
  void GetPosition(float* x, float* y, float* z) const override {
    std::lock_guard<std::mutex> lock(g_al_mutex);
    *x = *y = *z = 0;
    if (!output_->MakeCurrent()) return;
    alGetSource3f(source_, AL_POSITION, x, y, z);
    *z = -*z;
  }

 private:
  std::shared_ptr<CSoundDevice::Output> output_;
  ALuint source_;
  ALuint buffer_;
  ALint pending_offset_ = 0;  // guarded by g_al_mutex
};

}  // namespace

CSoundDevice::CSoundDevice() = default;
CSoundDevice::~CSoundDevice() { Close(); }

SoundBackend CSoundDevice::Open(SoundDeviceChoice choice) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (output_) return output_->backend;
  auto output = std::make_shared<Output>();
  open_error_.clear();
  if (choice == SoundDeviceChoice::kDefault) {
    std::lock_guard<std::mutex> al(g_al_mutex);
    ALCdevice* device = alcOpenDevice(nullptr);
    if (!device) {
      open_error_ = "no sound output can be opened";
    } else if (ALCcontext* context = alcCreateContext(device, nullptr); !context) {
      open_error_ = "no sound context: " + AlcErrorText(device);
      alcCloseDevice(device);
    } else {
      output->backend = SoundBackend::kOpenAL;
      output->device = device;
      output->context = context;
      alcMakeContextCurrent(context);
      const ALCchar* name = alcGetString(device, ALC_DEVICE_SPECIFIER);
      output->name = name ? name : "OpenAL";
      // Sounds closer than one unit play at full volume and fade beyond.
      alDistanceModel(AL_INVERSE_DISTANCE_CLAMPED);
    }
  }
  output_ = std::move(output);
  return output_->backend;
}

void CSoundDevice::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  output_.reset();
}

SoundBackend CSoundDevice::Backend() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_ ? output_->backend : SoundBackend::kNone;
}

std::string CSoundDevice::DeviceName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_ ? output_->name : std::string();
}

std::string CSoundDevice::OpenError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_error_;
}

std::unique_ptr<CSoundBuffer> CSoundDevice::CreateBuffer(const WaveData& wave, uint32_t flags, std::string* error) {
  auto fail = [&](const char* why) -> std::unique_ptr<CSoundBuffer> {
    if (error) *error = why;
    return nullptr;
  };
  const WaveFormat& f = wave.format;
  if ((f.channels != 1 && f.channels != 2) || (f.bits_per_sample != 8 && f.bits_per_sample != 16) ||
      f.sample_rate == 0 || wave.FrameCount() == 0 || wave.samples.size() > kMaxWaveDataBytes)
    return fail("the sound cannot be played (empty or of a format the output does not take)");
  Open();
  std::shared_ptr<Output> output;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    output = output_;
  }
  WaveFormat format = f;
  std::vector<uint8_t> mono;
  const std::vector<uint8_t>* samples = &wave.samples;
  if ((flags & kSoundPositional) && f.channels == 2) {
    mono = MixToMono(wave);
    format.channels = 1;
    samples = &mono;
  }
  const uint32_t size = static_cast<uint32_t>(samples->size() - samples->size() % format.BytesPerFrame());
  if (output->backend == SoundBackend::kNull) return std::make_unique<CNullSoundBuffer>(format, size, flags);

  std::lock_guard<std::mutex> al(g_al_mutex);
  if (!output->MakeCurrent()) return fail("the sound output is not available");
  alGetError();
  ALuint buffer = 0, source = 0;
  alGenBuffers(1, &buffer);
  if (alGetError() != AL_NO_ERROR) return fail("the sound output refused a buffer");
  const ALenum al_format = format.channels == 1 ? (format.bits_per_sample == 8 ? AL_FORMAT_MONO8 : AL_FORMAT_MONO16)
                                                : (format.bits_per_sample == 8 ? AL_FORMAT_STEREO8 : AL_FORMAT_STEREO16);
  alBufferData(buffer, al_format, samples->data(), static_cast<ALsizei>(size), static_cast<ALsizei>(format.sample_rate));
  if (alGetError() != AL_NO_ERROR) {
    alDeleteBuffers(1, &buffer);
    return fail("the sound output refused the sound data");
  }
  alGenSources(1, &source);
  if (alGetError() != AL_NO_ERROR) {
    alDeleteBuffers(1, &buffer);
    return fail("the sound output has no voice free");
  }
  alSourcei(source, AL_BUFFER, static_cast<ALint>(buffer));
  alSourcef(source, AL_REFERENCE_DISTANCE, 1.0f);
  if (!(flags & kSoundPositional)) {
    // A plain buffer plays at the listener, whatever the listener does.
    alSourcei(source, AL_SOURCE_RELATIVE, AL_TRUE);
    alSource3f(source, AL_POSITION, 0, 0, 0);
  }
  if (alGetError() != AL_NO_ERROR) {
    alDeleteSources(1, &source);
    alDeleteBuffers(1, &buffer);
    return fail("the sound output refused the voice");
  }
  return std::make_unique<CAlSoundBuffer>(output, format, size, flags, source, buffer);
}

CSoundDevice& SoundDevice() {
  static CSoundDevice device;
  return device;
}

}  // namespace velmora
