// CWmtsRequestLog: the map publishing server's request log (on when the profile setting
// "wmtslog" of section "option" is 1): each request with its time and peer, and each response
// header. Bytes that clients sent are escaped so that the log stays one readable text, and the
// file is bounded: past its limit it is moved to "<name>.1" (replacing the older one) and
// started again.
#pragma once
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace velmora {

// Client bytes as log text: printable ASCII as it is, '\n' kept as the line break, a '\r'
// before it dropped, "\\" doubled, every other byte as "\xHH".
std::string EscapeLogText(std::string_view bytes);

class CWmtsRequestLog {
 public:
  static constexpr uint64_t kDefaultLimit = 8ull << 20;
  // Longest stretch of one request that is written; the rest is replaced by a note of its length.
  static constexpr size_t kMaxLoggedRequest = 4096;

  CWmtsRequestLog() = default;
  ~CWmtsRequestLog();
  CWmtsRequestLog(const CWmtsRequestLog&) = delete;
  CWmtsRequestLog& operator=(const CWmtsRequestLog&) = delete;

  // Opens (appends to) the file; false (logged) when it cannot be opened.
  bool Open(const std::string& path, uint64_t limit_bytes = kDefaultLimit);
  void Close();
  bool IsOpen() const;

  // "%d:%d:%d.%d [%d.%d.%d.%d:%d]\n" (local time, peer address and port), then the request.
  void WriteRequest(uint32_t peer_address, uint16_t peer_port, std::string_view request);
  // "---------------------\n%d:%d:%d.%d Response\n" and the header text.
  void WriteResponse(std::string_view header);

 private:
  void WriteLocked(const std::string& text);

  mutable std::mutex lock_;  // the log lock: one write at a time
  std::FILE* file_ = nullptr;
  std::string path_;
  uint64_t limit_ = kDefaultLimit;
  uint64_t size_ = 0;
};

}  // namespace velmora
