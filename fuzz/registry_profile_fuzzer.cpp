// The INI registry profile: any file opens, and after a write of a key and value taken from the
// input (one not stored yet) the file is UTF-8 and every key's value reads back exactly, however
// odd its bytes.
#include "core/settings.h"
#include "fuzz_support.h"
#include "platform/text.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::Setup() + "profile.ini";
  fuzz::Parts parts(data, size);
  const std::string section(parts.Next());
  const std::string key(parts.Next());
  const std::string value(parts.Next());
  fuzz::WriteFile(path, parts.Rest());

  CRegistryProfile profile;
  FUZZ_CHECK(profile.Open(path));
  profile.GetInt(section, key, 0);
  profile.GetDouble(section, key, 0);
  const std::string before = profile.GetString("weather", "city", "?");
  // A value already stored as it is is not written again (the file stays as it was).
  const bool stored = profile.GetString(section, key, "a") == profile.GetString(section, key, "b") &&
                      profile.GetString(section, key, "") == value;
  FUZZ_CHECK(profile.WriteString(section, key, value));
  if (!stored) FUZZ_CHECK(IsValidUtf8(fuzz::ReadFile(path)));

  CRegistryProfile back;
  FUZZ_CHECK(back.Open(path));
  FUZZ_CHECK(back.GetString(section, key, "") == value);
  if (section != "weather" || key != "city") FUZZ_CHECK(back.GetString("weather", "city", "?") == before);
  // A second rewrite by another writer changes none of it.
  FUZZ_CHECK(back.WriteString("velmora-fuzz", "k", "v"));
  CRegistryProfile third;
  FUZZ_CHECK(third.Open(path));
  FUZZ_CHECK(third.GetString(section, key, "") == value);
  FUZZ_CHECK(third.GetString("weather", "city", "?") == back.GetString("weather", "city", "?"));
  return 0;
}
