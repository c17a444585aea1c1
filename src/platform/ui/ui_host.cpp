// The host in use and the message-box shorthand.
#include "platform/ui/ui_host.h"

#include <atomic>
#include <cstdio>

#include "platform/ui/headless_host.h"

namespace velmora {
namespace {

std::atomic<UiHost*> g_host{nullptr};

UiHost& DefaultHost() {
  static CHeadlessUiHost* host = [] {
    auto* h = new CHeadlessUiHost();  // lives for the whole run
    h->SetQuestionLog([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    return h;
  }();
  return *host;
}

}  // namespace

UiHost& GetUiHost() {
  UiHost* host = g_host.load();
  return host ? *host : DefaultHost();
}

void SetUiHost(UiHost* host) { g_host.store(host); }

int ShowMessageBox(const std::string& text, UINT type, const std::string& caption) {
  return GetUiHost().MessageBox(nullptr, text, caption, type);
}

}  // namespace velmora
