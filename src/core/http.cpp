// HttpFetch and HttpGet on libcurl, one easy handle per thread.
#include "core/http.h"

#include <fcntl.h>

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "core/proxy_list.h"
#include "core/settings.h"
#include "platform/text.h"

namespace velmora {

namespace {

// libcurl's sockets are not close-on-exec: a program started while a transfer is open (the
// browser, a document viewer) must not inherit them.
int MarkCloseOnExec(void*, curl_socket_t fd, curlsocktype) {
  int flags = fcntl(fd, F_GETFD);
  if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  return CURL_SOCKOPT_OK;
}

constexpr const char* kDefaultUserAgent = "Mozilla/5.0 (X11; Linux x86_64) Velmora/0.1";

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// The thread's easy handle. Reusing it keeps connections (and TLS sessions, DNS answers) alive
// between requests of the same thread; curl_easy_reset clears the options but not those caches.
class ThreadHandle {
 public:
  ThreadHandle() {
    GlobalInit();
    handle_ = curl_easy_init();
  }
  ~ThreadHandle() {
    if (handle_) curl_easy_cleanup(handle_);
  }
  ThreadHandle(const ThreadHandle&) = delete;
  ThreadHandle& operator=(const ThreadHandle&) = delete;
  CURL* Get() {
    if (handle_) curl_easy_reset(handle_);
    return handle_;
  }

 private:
  CURL* handle_ = nullptr;
};

struct Transfer {
  std::vector<uint8_t>* body;
  size_t max_bytes;
  bool overflow = false;
};

size_t OnData(char* data, size_t size, size_t count, void* user) {
  auto* t = static_cast<Transfer*>(user);
  const size_t len = size * count;
  const size_t room = t->max_bytes - std::min(t->max_bytes, t->body->size());
  if (len > room) {
    // Keep what fits so that the caller sees the start of the reply, then end the transfer:
    // reading on would only waste the network.
    t->body->insert(t->body->end(), data, data + room);
    t->overflow = true;
    return 0;
  }
  t->body->insert(t->body->end(), data, data + len);
  return len;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCaseAscii(text.substr(0, prefix.size()), prefix);
}

// The proxy for a request: the list's current entry when a list is in use, else the profile's.
std::string ChooseProxy() {
  CProxyList& list = ProxyList();
  if (list.InUse()) return list.Current();
  return GetProfileString(kHttpProfileSection, "ProxyServer", "");
}

// libcurl calls this about once a second and on every chunk: a non-zero answer aborts.
int OnProgress(void* cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::atomic<bool>*>(cancel)->load() ? 1 : 0;
}

// The calling thread's multi handle, kept so that its connections are reused like the easy
// handle's.
class ThreadMulti {
 public:
  ThreadMulti() : multi_(curl_multi_init()) {}
  ~ThreadMulti() {
    if (multi_) curl_multi_cleanup(multi_);
  }
  ThreadMulti(const ThreadMulti&) = delete;
  ThreadMulti& operator=(const ThreadMulti&) = delete;
  CURLM* Get() const { return multi_; }

 private:
  CURLM* multi_;
};

// A transfer that can be cancelled: the progress callback alone comes only about once a second
// while a server keeps silent, so the transfer is driven here and the flag is looked at every
// 100 ms as well.
CURLcode PerformCancellable(CURL* curl, const std::atomic<bool>* cancel) {
  thread_local ThreadMulti thread_multi;
  CURLM* multi = thread_multi.Get();
  if (!multi || curl_multi_add_handle(multi, curl) != CURLM_OK) return curl_easy_perform(curl);
  CURLcode rc = CURLE_OK;
  bool done = false;
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      rc = CURLE_RECV_ERROR;
      break;
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == curl) {
        rc = msg->data.result;
        done = true;
      }
    }
    if (done || running == 0) break;
    if (cancel->load()) {
      rc = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    if (curl_multi_poll(multi, nullptr, 0, 100, nullptr) != CURLM_OK) {
      rc = CURLE_RECV_ERROR;
      break;
    }
  }
  curl_multi_remove_handle(multi, curl);
  return rc;
}

}  // namespace

bool HttpResult::IsHtml() const {
  const std::string_view type = TrimAscii(content_type);
  if (StartsWithNoCase(type, "text/html") || StartsWithNoCase(type, "application/xhtml")) return true;
  std::string_view text = Text();
  if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
      static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF) {
    text.remove_prefix(3);
  }
  text = TrimAscii(text);
  for (std::string_view start : {"<!doctype html", "<html", "<head", "<body"}) {
    if (StartsWithNoCase(text, start)) return true;
  }
  return false;
}

HttpResult HttpFetch(std::string_view url, const HttpOptions& options) {
  HttpResult result;
  thread_local ThreadHandle thread_handle;
  CURL* curl = thread_handle.Get();
  if (!curl) {
    result.curl_code = CURLE_FAILED_INIT;
    result.error = "cannot create an HTTP handle";
    return result;
  }

  const std::string url_text(url);
  Transfer transfer{&result.body, options.max_bytes ? options.max_bytes : kHttpDefaultMaxBytes};
  char error_buffer[CURL_ERROR_SIZE] = {};
  int timeout_ms = options.timeout_ms > 0 ? options.timeout_ms : AppOptions().http_timeout_ms;
  if (timeout_ms <= 0) timeout_ms = 15000;

  curl_easy_setopt(curl, CURLOPT_URL, url_text.c_str());
  curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, &MarkCloseOnExec);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // time-outs without signals: required with threads
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout_ms));
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout_ms));
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");  // every encoding libcurl can undo
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnData);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_buffer);
  const std::string agent = GetProfileString(kHttpProfileSection, "UserAgent", kDefaultUserAgent);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());

  // An empty proxy text turns proxies off, also those of the environment: the settings decide.
  result.proxy = options.use_proxy ? ChooseProxy() : std::string();
  curl_easy_setopt(curl, CURLOPT_PROXY, result.proxy.c_str());

  std::string cookie_text;
  for (const auto& [name, value] : options.cookies) {
    if (!cookie_text.empty()) cookie_text += "; ";
    cookie_text += name + "=" + value;
  }
  if (!cookie_text.empty()) curl_easy_setopt(curl, CURLOPT_COOKIE, cookie_text.c_str());

  curl_slist* headers = nullptr;
  for (const std::string& h : options.headers) headers = curl_slist_append(headers, h.c_str());
  if (headers) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);

  if (options.cancel) {
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(options.cancel));
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  }
  CURLcode rc = !options.cancel         ? curl_easy_perform(curl)
                : options.cancel->load() ? CURLE_ABORTED_BY_CALLBACK
                                         : PerformCancellable(curl, options.cancel);
  if (options.cancel) {
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, nullptr);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, nullptr);
  }

  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  result.http_status = static_cast<int>(status);
  char* type = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) result.content_type = type;
  if (headers) curl_slist_free_all(headers);

  if (transfer.overflow) {
    result.curl_code = kHttpErrorTooLarge;
    result.error = "reply larger than " + std::to_string(transfer.max_bytes) + " bytes";
  } else if (rc != CURLE_OK) {
    result.curl_code = static_cast<int>(rc);
    result.error = error_buffer[0] ? error_buffer : curl_easy_strerror(rc);
  } else if (!result.Ok()) {
    result.error = "HTTP status " + std::to_string(result.http_status);
  }
  // The handle must not keep pointers into this frame.
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);
  return result;
}

int HttpGet(const char* url, uint8_t** buffer, int size, const char* const* cookies) {
  if (!url || !buffer || size < 0) return 0;
  const bool allocate = *buffer == nullptr;
  if (!allocate && size == 0) return 0;
  HttpOptions options;
  if (cookies) {
    for (size_t i = 0; cookies[i] && cookies[i + 1]; i += 2) options.cookies.emplace_back(cookies[i], cookies[i + 1]);
  }
  options.max_bytes = allocate ? kHttpDefaultMaxBytes : static_cast<size_t>(size);
  HttpResult r = HttpFetch(url, options);
  if (r.TooLarge()) {
    if (!allocate) std::memcpy(*buffer, r.body.data(), std::min(r.body.size(), static_cast<size_t>(size)));
    return -kHttpErrorTooLarge;
  }
  if (r.curl_code != 0) return -r.curl_code;
  if (!r.Ok() || r.body.empty()) return 0;
  const size_t n = r.body.size();
  if (allocate) {
    auto* p = static_cast<uint8_t*>(std::malloc(n + 1));
    if (!p) return 0;
    std::memcpy(p, r.body.data(), n);
    p[n] = 0;
    *buffer = p;
  } else {
    std::memcpy(*buffer, r.body.data(), n);
    if (n < static_cast<size_t>(size)) (*buffer)[n] = 0;
  }
  return static_cast<int>(n);
}

void HttpFreeBuffer(uint8_t* buffer) { std::free(buffer); }

ServiceHost ParseServiceHost(std::string_view setting, std::string_view default_scheme) {
  ServiceHost out;
  out.scheme = std::string(default_scheme);
  if (setting.starts_with("http://")) {
    out.scheme = "http://";
    setting.remove_prefix(7);
  } else if (setting.starts_with("https://")) {
    out.scheme = "https://";
    setting.remove_prefix(8);
  }
  while (!setting.empty() && setting.back() == '/') setting.remove_suffix(1);
  out.host = std::string(setting);
  out.valid = !out.host.empty() && std::all_of(out.host.begin(), out.host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_' || c == ':' || c == '[' || c == ']';
  });
  return out;
}

}  // namespace velmora
