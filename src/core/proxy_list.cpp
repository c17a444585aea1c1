// The proxy list and its rotation rule.
#include "core/proxy_list.h"

#include <filesystem>

#include "core/log.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace velmora {

namespace {

// "host port" -> "host:port"; other forms stay as written.
std::string NormaliseProxy(const std::string& line) {
  if (line.find("://") != std::string::npos) return line;
  size_t gap = line.find_first_of(" \t");
  if (gap == std::string::npos) return line;
  std::string host = line.substr(0, gap);
  std::string port(TrimAscii(std::string_view(line).substr(gap)));
  return port.empty() ? host : host + ":" + port;
}

}  // namespace

bool CProxyList::Load(const std::string& path) {
  std::vector<std::string> proxies;
  bool ok = true;
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) {
    std::string error;
    auto bytes = ReadFileBytes(path, &error);
    if (!bytes) {
      AppLog("proxy list %s: %s", path.c_str(), error.c_str());
      ok = false;
    } else {
      std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
      size_t pos = 0;
      while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string line(TrimAscii(text.substr(pos, end - pos)));
        pos = end + 1;
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        proxies.push_back(NormaliseProxy(line));
      }
    }
  }
  SetProxies(std::move(proxies));
  return ok;
}

void CProxyList::SetProxies(std::vector<std::string> proxies) {
  std::lock_guard lock(mutex_);
  proxies_ = std::move(proxies);
  failures_.assign(proxies_.size(), 0);
  current_ = 0;
}

bool CProxyList::InUse() const {
  std::lock_guard lock(mutex_);
  return !proxies_.empty();
}

size_t CProxyList::Count() const {
  std::lock_guard lock(mutex_);
  return proxies_.size();
}

std::string CProxyList::Current() const {
  std::lock_guard lock(mutex_);
  return proxies_.empty() ? std::string() : proxies_[current_];
}

int CProxyList::CurrentFailures() const {
  std::lock_guard lock(mutex_);
  return proxies_.empty() ? 0 : failures_[current_];
}

void CProxyList::UseNextProxy() {
  std::lock_guard lock(mutex_);
  if (proxies_.empty()) return;
  ++failures_[current_];
  const size_t n = proxies_.size();
  for (size_t step = 1; step <= n; ++step) {
    size_t i = (current_ + step) % n;
    if (failures_[i] < kMaxFailures) {
      current_ = i;
      return;
    }
  }
  // Every proxy has failed repeatedly: give them all a fresh chance rather than stalling on one.
  failures_.assign(n, 0);
  current_ = (current_ + 1) % n;
}

void CProxyList::ResetProxyFailures() {
  std::lock_guard lock(mutex_);
  if (!proxies_.empty()) failures_[current_] = 0;
}

void CProxyList::OnProxyFailure(int failed) {
  if (!InUse()) return;
  if (failed) UseNextProxy();
  else ResetProxyFailures();
}

CProxyList& ProxyList() {
  static CProxyList* list = [] {
    auto* l = new CProxyList;  // lives for the whole run; HTTP threads may outlive static destructors
    l->Load(AppOptions().data_dir + "proxy.txt");
    return l;
  }();
  return *list;
}

bool ReloadProxyList() { return ProxyList().Load(AppOptions().data_dir + "proxy.txt"); }

void OnProxyFailure(int failed) { ProxyList().OnProxyFailure(failed); }
void UseNextProxy() { ProxyList().UseNextProxy(); }
void ResetProxyFailures() { ProxyList().ResetProxyFailures(); }

}  // namespace velmora
