// The map publishing server's bounded, escaped request log.
#include "server/wmts_request_log.h"

#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <filesystem>

#include "core/format.h"
#include "core/log.h"
#include "platform/fs.h"

namespace velmora {

namespace {

// "%d:%d:%d.%d" of the local time now, as the log's lines begin.
std::string LocalTimeStamp() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  int ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm tm{};
  localtime_r(&t, &tm);
  return FormatC("%d:%d:%d.%d", tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
}

}  // namespace

std::string EscapeLogText(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() + 16);
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    if (c == '\n' || (c >= 0x20 && c < 0x7F && c != '\\')) {
      out += static_cast<char>(c);
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

CWmtsRequestLog::~CWmtsRequestLog() { Close(); }

bool CWmtsRequestLog::Open(const std::string& path, uint64_t limit_bytes) {
  std::lock_guard<std::mutex> lock(lock_);
  if (file_) std::fclose(file_);
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) EnsureFolder(parent.string());
  file_ = std::fopen(path.c_str(), "abe");  // close-on-exec: a started browser never inherits it
  if (!file_) {
    AppLog("the request log %s cannot be opened", path.c_str());
    return false;
  }
  path_ = path;
  limit_ = limit_bytes;
  struct stat st{};
  size_ = ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  return true;
}

void CWmtsRequestLog::Close() {
  std::lock_guard<std::mutex> lock(lock_);
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

bool CWmtsRequestLog::IsOpen() const {
  std::lock_guard<std::mutex> lock(lock_);
  return file_ != nullptr;
}

void CWmtsRequestLog::WriteRequest(uint32_t peer_address, uint16_t peer_port, std::string_view request) {
  if (!IsOpen()) return;
  const auto* b = reinterpret_cast<const unsigned char*>(&peer_address);
  std::string text = FormatC("%s [%d.%d.%d.%d:%d]\n", LocalTimeStamp().c_str(), b[0], b[1], b[2], b[3],
                             static_cast<int>(peer_port));
  if (request.size() > kMaxLoggedRequest) {
    text += EscapeLogText(request.substr(0, kMaxLoggedRequest));
    text += FormatC("\n[... %zu bytes in all]\n", request.size());
  } else {
    text += EscapeLogText(request);
  }
  std::lock_guard<std::mutex> lock(lock_);
  WriteLocked(text);
}

void CWmtsRequestLog::WriteResponse(std::string_view header) {
  if (!IsOpen()) return;
  std::string text = "---------------------\n" + LocalTimeStamp() + " Response\n" + EscapeLogText(header);
  std::lock_guard<std::mutex> lock(lock_);
  WriteLocked(text);
}

void CWmtsRequestLog::WriteLocked(const std::string& text) {
  if (!file_) return;
  if (size_ > 0 && size_ + text.size() > limit_) {
    std::fclose(file_);
    std::error_code ec;
    std::filesystem::rename(path_, path_ + ".1", ec);
    file_ = std::fopen(path_.c_str(), ec ? "wbe" : "abe");  // truncate when the move failed
    size_ = 0;
    if (!file_) return;
  }
  size_t written = std::fwrite(text.data(), 1, text.size(), file_);
  std::fflush(file_);
  size_ += written;
}

}  // namespace velmora
