// Scrambled data files (".kmp"), the bundles inside them and the map server's web-file pair:
// whatever reads must write back to the same bytes, and the server's own loader takes the pair.
#include "core/scrambled_data.h"
#include "fuzz_support.h"
#include "server/wmts_web_files.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Setup();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (std::optional<std::string> plain = UnscrambleBytes(bytes)) {
    FUZZ_CHECK(ScrambleBytes(*plain) == bytes);
    if (std::optional<ScrambledBundle> bundle = DecodeBundle(*plain)) {
      std::optional<ScrambledBundle> again = DecodeBundle(EncodeBundle(*bundle));
      FUZZ_CHECK(again && *again == *bundle);
    }
  }
  if (std::optional<ScrambledBundle> bundle = DecodeBundle(bytes)) {
    std::optional<ScrambledBundle> again = DecodeBundle(EncodeBundle(*bundle));
    FUZZ_CHECK(again && *again == *bundle);
  }
  fuzz::Parts parts(data, size);
  const std::string_view names = parts.Next();
  const std::string_view block = parts.Rest();
  if (std::optional<ScrambledBundle> files = DecodeWebFiles(names, block)) {
    const WebFilePair pair = EncodeWebFiles(*files);
    std::optional<ScrambledBundle> again = DecodeWebFiles(pair.names, pair.data);
    FUZZ_CHECK(again && *again == *files);
  }
  CWmtsWebFiles web;
  web.LoadFromBytes(names, std::string(block));
  std::string out;
  web.GetFile("examples/index.htm", out);
  web.GetFile("/", out);
  return 0;
}
