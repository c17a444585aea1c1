// Protocol helpers of the map publishing server that hold no state of their own: the framing of
// requests on a kept-alive connection (bounded, pipelining kept), the request line, tile
// addresses, the HTTP date, the response header and an answer's form, and the example page's
// layer insertion.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/wmts_web_files.h"

namespace velmora {

class CLayerManager;

// Largest request header accepted (request line and header lines with the blank line).
inline constexpr size_t kMaxRequestHeader = 16 * 1024;
// Largest request body that is read past (and dropped) to keep the connection; a larger one, or
// one whose length is not given, is answered and the connection then closed.
inline constexpr size_t kMaxSkippedBody = 1024 * 1024;

// Position just after the first "\r\n\r\n", npos while the header is incomplete (a text of
// fewer than four bytes always is). NUL bytes are ordinary bytes here.
size_t FindHeaderEnd(std::string_view text);

// Cuts the byte stream of one connection into request headers. Bytes after a header's blank
// line stay for the next request (pipelining); a body announced by Content-Length is dropped.
class CRequestFramer {
 public:
  enum class State {
    kNeedMore,  // no whole header yet
    kRequest,   // *header holds the next request's header, blank line included
    kTooLarge,  // the header passed the limit before its blank line: end the connection
  };

  explicit CRequestFramer(size_t header_limit = kMaxRequestHeader) : limit_(header_limit) {}

  void Append(std::string_view bytes);
  // The next request. *close_after is set when the request carries a body that cannot be
  // skipped (too long, or of unknown length): answer it, then end the connection.
  State Next(std::string* header, bool* close_after);
  // True while a request has begun but is not whole yet (its header or its body).
  bool Partial() const { return Buffered() > 0 || skip_ > 0; }
  size_t Buffered() const { return buffer_.size() - start_; }
  // True when the buffered request's first line is whole (or a body is still being dropped).
  bool HasRequestLine() const;

 private:
  void Compact();

  size_t limit_;
  std::string buffer_;
  size_t start_ = 0;   // first byte not yet taken
  uint64_t skip_ = 0;  // body bytes still to drop
};

// The request line: method before the first space; for "GET" the path between the first and
// the second space (to the end of the text without a second space). Nothing without a space.
struct RequestLine {
  std::string method;
  std::string path;
};
std::optional<RequestLine> SplitRequestLine(std::string_view request);

// A tile request's address: "LAYER=" gives the source (0 when absent); "TILEMATRIX=" the zoom;
// the numbers after the next two '=' signs that follow it the row and the column, whatever their
// keys are called. A value without digits reads 0. Nothing when "TILEMATRIX=" or one of the two
// '=' signs is missing, or a number has more than nine digits.
struct TileAddress {
  int source = 0;
  int zoom = 0;
  int row = 0;
  int column = 0;
};
std::optional<TileAddress> ParseTileAddress(std::string_view path);
// True when the catalogue has the source as a map source (not a geocoder), the zoom lies below
// 23 and inside the source's zoom range, and row and column lie in [0, 2^zoom).
bool IsServableTile(const TileAddress& tile, const CLayerManager& layers);

// One answer as a connection sends it: the header and the body, which is either the answer's own
// bytes or a web file as it lies in the server's data block (not copied for every client).
struct WmtsResponse {
  std::string head;
  std::vector<uint8_t> body;
  std::optional<WebFileView> file;  // the body when set
  size_t BodySize() const { return file ? file->size : body.size(); }
  const char* BodyData() const { return file ? file->data() : reinterpret_cast<const char*>(body.data()); }
  size_t Size() const { return head.size() + BodySize(); }
  // Empties it; a large body buffer is given back rather than kept for the next answer.
  void Clear();
};

// "%a, %d %b %Y %H:%M:%S GMT" of a UTC time, English names whatever the locale.
std::string FormatHttpDate(std::time_t utc);
// "HTTP/1.0 <status>" with Date, Server "VMRA", Accept-Ranges, Content-Length, Connection
// "Keep-Alive" and Content-Type, then the blank line.
std::string BuildResponseHeader(std::string_view status, std::string_view date, size_t content_length,
                                std::string_view content_type);

// One layer of the example page.
struct PageLayer {
  std::string title;  // "<group>-<name>" of the source
  int id = 0;         // source id
  bool base = true;   // base layer or overlay
};
// The example page: the template with its layer section replaced. The section starts four
// characters after the first "});" and ends before the first "]);" after it; it becomes one
// "var wmts_layer<n> = new OpenLayers.Layer.WMTS({...});" per layer (base layers first, then
// overlays, as given) and "map.addLayers([wmts_layer0,...", which the kept "]);" closes.
// A template without the two marks is returned unchanged.
std::string BuildOpenLayersPage(std::string_view page_template, const std::vector<PageLayer>& layers);

// Every occurrence of `from` replaced; *count gets the number of replacements.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to, size_t* count = nullptr);

}  // namespace velmora
