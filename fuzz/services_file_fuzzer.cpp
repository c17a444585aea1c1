// The map publishing services file "wmts.dat" from arbitrary bytes: the server reads what it can
// (nothing is started) and saves the list; the saved list reads back as the same services (names
// with bytes that are not GBK read as U+FFFD and are saved as '?', so the second save is the
// fixed point).
#include <string>
#include <tuple>
#include <vector>

#include "fuzz_support.h"
#include "server/wmts_server.h"
#include "server/wmts_service.h"

using namespace velmora;

namespace {

using ServiceList = std::vector<std::tuple<std::string, uint16_t, std::vector<int32_t>, std::vector<int32_t>>>;

ServiceList Read(const std::string& path) {
  CWmtsServer server;
  server.Options().services_path = path;
  server.Options().ip_echo_host = "";
  server.Options().resolve_own_host_name = false;
  server.LoadServices(false);
  ServiceList list;
  for (CWmtsService* s : server.Services()) {
    FUZZ_CHECK(!s->IsRunning());
    list.emplace_back(s->Name(), s->Port(), s->BaseLayers(), s->Overlays());
  }
  FUZZ_CHECK(server.SaveServices());
  return list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string dir = fuzz::Setup();
  fuzz::RemoveFiles("wmts-fuzz.dat");
  const std::string path = dir + "wmts-fuzz.dat";
  fuzz::WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size));
  const ServiceList first = Read(path);
  const ServiceList second = Read(path);
  FUZZ_CHECK(first.size() == second.size());
  FUZZ_CHECK(Read(path) == second);
  return 0;
}
