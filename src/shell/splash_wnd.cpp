// Splash window model.
#include "shell/splash_wnd.h"

#include "core/log.h"

namespace velmora {

void CSplashWnd::Show() {
  {
    std::lock_guard lock(mutex_);
    shown_ = true;
  }
  Changed();
}

void CSplashWnd::Hide() {
  {
    std::lock_guard lock(mutex_);
    shown_ = false;
  }
  Changed();
}

bool CSplashWnd::IsShown() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

void CSplashWnd::SetText(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    text_ = text;
    history_.push_back(text);
  }
  Changed();
  AppLog("%s", text.c_str());
}

std::string CSplashWnd::Text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

std::vector<std::string> CSplashWnd::History() const {
  std::lock_guard lock(mutex_);
  return history_;
}

void CSplashWnd::Reset() {
  std::lock_guard lock(mutex_);
  shown_ = false;
  text_.clear();
  history_.clear();
}

CSplashWnd& SplashWnd() {
  static CSplashWnd* splash = new CSplashWnd();  // reached by workers until the very end
  return *splash;
}

void SetSplashText(const std::string& text) { SplashWnd().SetText(text); }

}  // namespace velmora
