// CScriptedPageEngine: the base of the scripted stand-ins of the earth page (no web engine) that
// the tests of the page's call channel answer commands with: a document that is always there,
// loads nothing, answers no direct calls and grabs pictures of one colour; a subclass answers the
// page's asynchronous calls. OpenScriptedPage puts one into a view with a ready channel over it,
// OnWorkerPumping runs a worker while the test's thread serves the dispatcher.
#pragma once
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "earth/ui/earth_link.h"
#include "earth/ui/html_view_ex.h"
#include "platform/gfx/bitmap.h"
#include "platform/ui/ui_dispatcher.h"

namespace velmora::test {

class CScriptedPageEngine : public IHtmlDocumentEngine {
 public:
  CScriptedPageEngine(int width, int height) : width_(width), height_(height) {}
  void SetEvents(HtmlEngineEvents) override {}
  bool LoadPage(const std::string&, const std::string&) override { return false; }
  bool Navigate(const std::string&) override { return false; }
  void Clear() override {}
  bool HasDocument() const override { return true; }
  void SetSilent(bool) override {}
  int FindFunction(const std::string&) override { return 0; }
  bool CallFunction(int, std::span<const ScriptValue>, ScriptValue*) override { return false; }
  void PostToPage(const std::string&) override {}
  bool CanGrab() const override { return true; }
  bool GrabPicture(CBitmap* out) override { return out->Create(width_, height_, 0xFF336699u); }

  // The page's message that its picture is complete for command `seq` (progress 100).
  std::string PictureDone(uint64_t seq) const {
    return "earth:state " + std::to_string(seq) + " 100 1 " + std::to_string(width_) + " " + std::to_string(height_);
  }

 private:
  int width_, height_;
};

// Attaches the dispatcher to this thread, puts `engine` into `view` and returns a channel over
// it that the page told it is ready (library 1.120) with its picture complete.
inline std::shared_ptr<CEarthLink> OpenScriptedPage(CHtmlViewEx& view, std::unique_ptr<CScriptedPageEngine> engine) {
  UiDispatcher().AttachToCurrentThread();
  auto link = std::make_shared<CEarthLink>();
  const std::string ready = engine->PictureDone(0);
  view.SetEngine(std::move(engine));
  link->Attach(&view);
  link->OnPageMessage("earth:ready 1.120\tscripted");
  link->OnPageMessage(ready);
  return link;
}

// Runs `work` on a worker while this thread pumps the dispatcher (calling `meanwhile` on each
// turn), at most a minute.
inline void OnWorkerPumping(const std::function<void()>& work, const std::function<void()>& meanwhile = {}) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
    UiDispatcher().Wake();
  });
  EXPECT_TRUE(UiDispatcher().PumpUntil([&] {
    if (meanwhile) meanwhile();
    return done.load();
  }, 60000));
  worker.join();
}

}  // namespace velmora::test
