// HTTP GET on libcurl: HttpFetch (a result with the transfer error, HTTP status, content type and
// body) and the int-returning HttpGet of the older callers on top of it. Proxy and time-out come
// from the settings; the proxy list of core/proxy_list.h is consulted on every request.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora {

// HttpGet's negative result and HttpResult::curl_code for a reply longer than the caller allowed.
// It is libcurl's own "maximum file size exceeded" code, so that every negative result stays a
// network error code.
inline constexpr int kHttpErrorTooLarge = 63;
// HttpResult::curl_code of a transfer that ran out of time (libcurl's operation time-out).
inline constexpr int kHttpErrorTimeout = 28;
// HttpResult::curl_code of a transfer ended through HttpOptions::cancel (libcurl's "aborted by
// callback").
inline constexpr int kHttpErrorCancelled = 42;
// Largest reply accepted when the caller sets no limit (HttpOptions::max_bytes 0, or HttpGet with
// a null buffer).
inline constexpr size_t kHttpDefaultMaxBytes = 256u << 20;

struct HttpOptions {
  // Cookies (name, value) sent with the request.
  std::vector<std::pair<std::string, std::string>> cookies;
  // Extra request header lines, "Name: value".
  std::vector<std::string> headers;
  // A longer reply fails with kHttpErrorTooLarge (its first max_bytes bytes are kept in the body).
  // 0 means kHttpDefaultMaxBytes.
  size_t max_bytes = 0;
  // Whole-transfer time-out; 0 takes AppOptions().http_timeout_ms.
  int timeout_ms = 0;
  // false: no proxy at all for this request (neither the list nor the profile's proxy).
  bool use_proxy = true;
  // When set and it turns true, the transfer ends within about a second with
  // kHttpErrorCancelled (a stopping worker does not wait for the whole time-out).
  const std::atomic<bool>* cancel = nullptr;
};

struct HttpResult {
  int curl_code = 0;          // libcurl's CURLcode: 0 when the transfer completed
  int http_status = 0;        // status of the last answer (after redirects); 0 when none arrived
  std::string content_type;   // Content-Type as sent ("" when none)
  std::vector<uint8_t> body;  // the reply's bytes (content encoding already undone)
  std::string error;          // readable reason of a failure; "" on success
  std::string proxy;          // the proxy used, "" for a direct connection

  // The transfer completed with a 2xx status.
  bool Ok() const { return curl_code == 0 && http_status >= 200 && http_status < 300; }
  bool NetworkError() const { return curl_code != 0; }
  bool TimedOut() const { return curl_code == kHttpErrorTimeout; }
  bool TooLarge() const { return curl_code == kHttpErrorTooLarge; }
  bool Cancelled() const { return curl_code == kHttpErrorCancelled; }
  // The reply is an HTML page: Content-Type text/html, or a body that starts (after blanks and a
  // byte-order mark) with "<!DOCTYPE html", "<html", "<head" or "<body", case ignored. Servers of
  // map tiles answer errors this way, often with status 200.
  bool IsHtml() const;
  std::string_view Text() const {
    return std::string_view(reinterpret_cast<const char*>(body.data()), body.size());
  }
};

// One GET of `url` ("http://" or "https://"; peers are verified). Thread-safe; each thread keeps
// its own libcurl handle so that connections to a host are kept alive between requests.
// Redirects are followed (at most 5).
HttpResult HttpFetch(std::string_view url, const HttpOptions& options = {});

// A service's endpoint as a setting gives it: an optional "http://" or "https://" (else
// `default_scheme`), then the host with an optional port; trailing '/' are dropped. `valid` when
// the host is not empty and holds only letters, digits and ".-_:[]" (nothing that could add a
// path, a query or a user to the URLs built on it).
struct ServiceHost {
  std::string scheme;  // "http://" or "https://"
  std::string host;
  bool valid = false;
  std::string Base() const { return scheme + host; }
};
ServiceHost ParseServiceHost(std::string_view setting, std::string_view default_scheme);

// The older contract. Fetches `url` into *buffer:
//  - *buffer not null: the caller's buffer of `size` bytes. When fewer than `size` bytes arrive a
//    NUL is written after them. A longer reply fills the buffer and returns -kHttpErrorTooLarge.
//  - *buffer null: a buffer is allocated with std::malloc (free it with std::free or
//    HttpFreeBuffer), sized to the reply plus a NUL; `size` is ignored, the limit is
//    kHttpDefaultMaxBytes. On any failure *buffer stays null.
// `cookies`: null, or name, value, name, value, ..., nullptr.
// Returns the number of bytes read (> 0); 0 when the server answered with a status other than
// 2xx, with an empty body, or the arguments are unusable (null url or buffer pointer, negative
// size); minus the libcurl error code when the transfer failed (refused, time-out, TLS, too large).
int HttpGet(const char* url, uint8_t** buffer, int size, const char* const* cookies);
void HttpFreeBuffer(uint8_t* buffer);

// Settings read for every request from the registry profile, section "Network":
//   "ProxyServer"  proxy when no proxy list is in use: "host:port" or "scheme://host:port"
//                  (http, https, socks4, socks5, socks5h); "" for none.
//   "UserAgent"    User-Agent header; a default naming the program when absent.
inline constexpr const char* kHttpProfileSection = "Network";

}  // namespace velmora
