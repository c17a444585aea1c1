// The proxy list: "proxy.txt" in the data folder, one proxy a line, used in turn by HttpFetch.
// The tile manager and the elevation download report each outcome through OnProxyFailure: a
// failure moves on to the next proxy, a success clears the current proxy's failure count.
#pragma once
#include <mutex>
#include <string>
#include <vector>

namespace velmora {

class CProxyList {
 public:
  // A proxy that failed this many times in a row (without a success since) is passed over by
  // UseNextProxy until every proxy has reached the limit; then all counts start again.
  static constexpr int kMaxFailures = 3;

  // Reads the list. Lines: "host:port", "host port" (blank or tab), or "scheme://host:port";
  // blanks around are trimmed; empty lines and lines starting with '#' or ';' are skipped.
  // A missing file gives an empty list (true); an unreadable one an empty list (false).
  bool Load(const std::string& path);
  void SetProxies(std::vector<std::string> proxies);

  // True when the list has at least one proxy.
  bool InUse() const;
  size_t Count() const;
  // The proxy requests use now; "" when the list is not in use.
  std::string Current() const;
  int CurrentFailures() const;

  // Counts a failure of the current proxy and moves to the next usable one.
  void UseNextProxy();
  // Clears the current proxy's failure count.
  void ResetProxyFailures();
  // Nothing when the list is not in use; else non-zero `failed` -> UseNextProxy, zero ->
  // ResetProxyFailures.
  void OnProxyFailure(int failed);

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> proxies_;
  std::vector<int> failures_;
  size_t current_ = 0;
};

// The global list, loaded on first use from "<data folder>proxy.txt".
CProxyList& ProxyList();
// Reads "<data folder>proxy.txt" again (after the user edited it, or the data folder changed).
bool ReloadProxyList();

// The rule of the tile manager's proxy rotation, on the global list.
void OnProxyFailure(int failed);
void UseNextProxy();
void ResetProxyFailures();

}  // namespace velmora
