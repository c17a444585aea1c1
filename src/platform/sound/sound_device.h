// The sound layer: one output device for the program (OpenAL's default output, or a null device
// when there is no sound card, no sound server or no OpenAL) and sound buffers on it, shaped
// after what the map's sound objects ask of a secondary 3D sound buffer: fill with wave data,
// set the play cursor, play (looping or once), stop, read the cursor and the status, and place
// the sound in space relative to the listener.
//
// The null device plays nothing but keeps time: a playing buffer's cursor advances with the
// clock at the buffer's byte rate, wrapping when it loops, so everything above it behaves as it
// would with a sound card.
//
// Threads: the device and its buffers may be used from any thread; each call is complete on
// return. A buffer keeps the device's output open until the buffer is destroyed, so buffers may
// outlive CloseSoundDevice.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/sound/wave_file.h"

namespace velmora {

// Buffer flags.
inline constexpr uint32_t kSoundPositional = 1u << 0;  // a 3D buffer (mono in space)

// Buffer status bits.
inline constexpr uint32_t kSoundPlaying = 1u << 0;
inline constexpr uint32_t kSoundLooping = 1u << 2;

class CSoundBuffer {
 public:
  virtual ~CSoundBuffer() = default;
  CSoundBuffer(const CSoundBuffer&) = delete;
  CSoundBuffer& operator=(const CSoundBuffer&) = delete;

  // Plays from the cursor; `looping` starts again at the beginning after the end.
  virtual bool Play(bool looping) = 0;
  virtual void Stop() = 0;
  // The play cursor in bytes of the buffer's data (whole frames).
  virtual bool SetCurrentPosition(uint32_t byte_offset) = 0;
  virtual uint32_t GetCurrentPosition() const = 0;
  // kSoundPlaying and kSoundLooping.
  virtual uint32_t GetStatus() const = 0;
  // Where the sound is, in the listener's frame (x right, y up, z ahead; units of the reference
  // distance, at which the sound is heard at full volume). Ignored by buffers that are not
  // positional.
  virtual void SetPosition(float x, float y, float z) = 0;
  virtual void GetPosition(float* x, float* y, float* z) const = 0;

  // Bytes of sound data and their format (a positional buffer holds mono data).
  uint32_t Size() const { return size_; }
  const WaveFormat& Format() const { return format_; }
  uint32_t Flags() const { return flags_; }

 protected:
  CSoundBuffer(const WaveFormat& format, uint32_t size, uint32_t flags) : format_(format), size_(size), flags_(flags) {}
  WaveFormat format_;
  uint32_t size_;
  uint32_t flags_;
};

enum class SoundBackend { kNone, kOpenAL, kNull };

// Which output to open.
enum class SoundDeviceChoice {
  kDefault,  // OpenAL's default output, else the null device
  kNull,     // the null device only (tests, and a program run without sound)
};

class CSoundDevice {
 public:
  CSoundDevice();
  ~CSoundDevice();
  CSoundDevice(const CSoundDevice&) = delete;
  CSoundDevice& operator=(const CSoundDevice&) = delete;

  // Opens the output (nothing happens when it is open already). Always succeeds: without an
  // OpenAL output it opens the null device (the reason is in OpenError()).
  SoundBackend Open(SoundDeviceChoice choice = SoundDeviceChoice::kDefault);
  // Lets go of the output; buffers made on it keep it until they are destroyed.
  void Close();
  SoundBackend Backend() const;
  // The output's name ("null" for the null device).
  std::string DeviceName() const;
  // Why OpenAL's output could not be opened ("" when it was, or was not tried).
  std::string OpenError() const;

  // A buffer holding the wave's sound, stopped with its cursor at 0; opens the output first when
  // it is not open. A positional buffer gets the stereo sound mixed down to mono. Null (reason
  // in *error) when the output refuses the buffer.
  std::unique_ptr<CSoundBuffer> CreateBuffer(const WaveData& wave, uint32_t flags, std::string* error = nullptr);

  // The open output, shared by the device and its buffers (internal to the sound layer).
  struct Output;

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<Output> output_;
  std::string open_error_;
};

// The program's sound device.
CSoundDevice& SoundDevice();

}  // namespace velmora
