// The HTML view base on the script engine: pages from memory (charset line, "$$ROOT_DATA$$",
// empty text, failed loads), completion and page messages, the page scripts' fetch over a real
// socket, the engine factory and the activation rule.
#include <gtest/gtest.h>

#include "core/settings.h"
#include "earth/ui/html_view_ex.h"
#include "earth/ui/script_page_engine.h"
#include "platform/text.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

class RecordingView : public CHtmlViewEx {
 public:
  std::vector<std::string> completed;
  std::vector<std::string> messages;
  int activations = 0;

  // A call into the page by name (the script engine answers synchronously).
  std::optional<ScriptValue> Call(const std::string& name, std::vector<ScriptValue> args = {}) {
    int ref = Engine().FindFunction(name);
    if (ref == 0) return std::nullopt;
    return Engine().CallFunction(ref, args);
  }
  std::string Text(const std::string& name) {
    auto reply = Call(name);
    return reply ? reply->ToText() : "<no reply>";
  }
  void OnActivateView(bool activate, CWnd* activated, CWnd* deactivated) override {
    ++activations;
    CHtmlViewEx::OnActivateView(activate, activated, deactivated);
  }

 protected:
  void OnDocumentComplete(const std::string& url) override { completed.push_back(url); }
  void OnPageMessage(const std::string& message) override { messages.push_back(message); }
};

class HtmlViewTest : public ::testing::Test {
 protected:
  void SetUp() override { UiDispatcher().AttachToCurrentThread(); }
  static bool Pump(const std::function<bool()>& done) { return UiDispatcher().PumpUntil(done, 10000); }
};

TEST(PrepareHtmlPageTest, CharsetLineAndProgramFolder) {
  const std::string line = kDefaultCharsetLine;
  EXPECT_EQ(PrepareHtmlPage("<p>x</p>", "/opt/v/"), line + "<p>x</p>");
  // A page that names its character set is kept as it is; the search is for the bytes
  // "charset=" with their case.
  EXPECT_EQ(PrepareHtmlPage("<meta charset=utf-8><p>x</p>", "/opt/v/"), "<meta charset=utf-8><p>x</p>");
  EXPECT_EQ(PrepareHtmlPage("<meta CHARSET=utf-8>", "/opt/v/"), line + "<meta CHARSET=utf-8>");
  // Every "$$ROOT_DATA$$" becomes the program folder with forward slashes.
  EXPECT_EQ(PrepareHtmlPage("charset=x <img src='$$ROOT_DATA$$images/a.png'><script src=\"$$ROOT_DATA$$js/b.js\">",
                            "C:\\Velmora\\"),
            "charset=x <img src='C:/Velmora/images/a.png'><script src=\"C:/Velmora/js/b.js\">");
  // A folder that itself contains the marker is put in once, not again and again.
  EXPECT_EQ(PrepareHtmlPage("charset=x $$ROOT_DATA$$|$$ROOT_DATA$$", "/a/$$ROOT_DATA$$/"),
            "charset=x /a/$$ROOT_DATA$$/|/a/$$ROOT_DATA$$/");
}

TEST_F(HtmlViewTest, APageFromMemoryReachesTheProgramFoldersFiles) {
  test::TempDir program;
  test::WriteTestFile(program.File("js/lib.js"), "function libValue() { return 'from the program folder'; }");
  ScopedAppOptions options([&](CAppOptions& o) { o.program_dir = program.path(); });
  RecordingView view;
  ASSERT_TRUE(view.LoadHtml("<meta charset=utf-8><script src=\"$$ROOT_DATA$$js/lib.js\"></script>"
                            "<script>function image() { return '$$ROOT_DATA$$images/a.png'; }</script>"));
  // The completion comes after LoadHtml returned, through the UI queue.
  EXPECT_TRUE(view.completed.empty());
  ASSERT_TRUE(Pump([&] { return !view.completed.empty(); }));
  EXPECT_EQ(view.completed, std::vector<std::string>{"about:blank"});
  EXPECT_EQ(view.Text("libValue"), "from the program folder");
  EXPECT_EQ(view.Text("image"), program.path() + "images/a.png");
}

TEST_F(HtmlViewTest, APageWithoutCharsetIsReadAsGbk) {
  RecordingView view;
  // GBK bytes without a declaration: the charset line makes them GBK.
  ASSERT_TRUE(view.LoadHtml(Utf8ToAnsi(std::string_view("<script>function name() { return '公交线路'; }</script>"))));
  EXPECT_EQ(view.Text("name"), "公交线路");
  // UTF-8 bytes that say so stay UTF-8.
  ASSERT_TRUE(view.LoadHtml("<meta charset=\"utf-8\"><script>function name() { return '行政边界'; }</script>"));
  EXPECT_EQ(view.Text("name"), "行政边界");
}

TEST_F(HtmlViewTest, EmptyTextAndFailedLoadsLeaveTheOldDocument) {
  RecordingView view;
  ScriptLimits limits;
  limits.memory_bytes = 512 << 10;
  view.SetEngine(std::make_unique<CScriptPageEngine>(limits));
  ASSERT_TRUE(view.LoadHtml("<script>function which() { return 'old'; }</script>"));
  ASSERT_TRUE(Pump([&] { return view.completed.size() == 1; }));

  EXPECT_FALSE(view.LoadHtml(""));
  EXPECT_FALSE(view.LoadHtml(std::string_view("\0<script>function which() { return 'new'; }</script>", 50)));
  EXPECT_FALSE(view.LoadHtml("<script>var big = '" + std::string(600 << 10, 'x') + "';</script>"));
  UiDispatcher().PumpPending();
  EXPECT_EQ(view.Text("which"), "old");
  EXPECT_EQ(view.completed.size(), 1u);

  // Text up to its first NUL is the page.
  ASSERT_TRUE(view.LoadHtml(std::string_view("<script>function which() { return 'new'; }</script>\0junk", 57)));
  EXPECT_EQ(view.Text("which"), "new");
}

TEST_F(HtmlViewTest, NavigationAndScriptErrorsComplete) {
  test::TempDir dir;
  test::WriteTestFile(dir.File("page.html"),
                      "<script src='near.js'></script><script>throw new Error('silent');</script>"
                      "<script>function from() { return nearValue; }</script>");
  test::WriteTestFile(dir.File("near.js"), "var nearValue = 'beside the page';");
  RecordingView view;
  view.SetSilent(true);
  ASSERT_TRUE(view.Navigate("about::blank"));
  ASSERT_TRUE(view.Navigate("file://" + dir.File("page.html")));
  EXPECT_FALSE(view.Navigate("ftp://host/page.html"));
  EXPECT_FALSE(view.Navigate(dir.File("missing.html")));
  ASSERT_TRUE(Pump([&] { return view.completed.size() == 2; }));
  EXPECT_EQ(view.completed[0], "about::blank");
  EXPECT_EQ(view.completed[1], "file://" + dir.File("page.html"));
  EXPECT_EQ(view.Text("from"), "beside the page");
}

TEST_F(HtmlViewTest, MessagesTravelBothWays) {
  RecordingView view;
  ASSERT_TRUE(view.LoadHtml("<meta charset=utf-8><script>"
                            "var heard = '';"
                            "velmora.onmessage = function (text) { heard = text; velmora.postMessage('echo:' + text); };"
                            "function said() { return heard; }</script>"));
  view.PostToPage("你好");
  EXPECT_EQ(view.Text("said"), "你好");
  ASSERT_TRUE(Pump([&] { return !view.messages.empty(); }));
  EXPECT_EQ(view.messages, std::vector<std::string>{"echo:你好"});

  std::optional<ScriptValue> async_reply;
  bool answered = false;
  view.Engine().CallFunctionAsync("said", {}, [&](std::optional<ScriptValue> reply) {
    async_reply = std::move(reply);
    answered = true;
  });
  EXPECT_FALSE(answered);
  ASSERT_TRUE(Pump([&] { return answered; }));
  ASSERT_TRUE(async_reply);
  EXPECT_EQ(async_reply->text, "你好");
}

TEST_F(HtmlViewTest, PageScriptsFetchOnAWorkerAndHearBackOnTheUiThread) {
  test::HttpTestServer server;
  server.Route("/answer", test::HttpReply::Ok("回答 42", "text/plain; charset=utf-8"));
  server.Route("/gbk", test::HttpReply::Ok(Utf8ToAnsi(std::string_view("线路")), "text/plain"));
  server.Route("/slow", test::HttpReply::Delayed(3000, test::HttpReply::Ok("late")));
  RecordingView view;
  ASSERT_TRUE(view.LoadHtml(
      "<meta charset=utf-8><script>"
      "var got = {};"
      "function ask(name, url) { return velmora.fetch(url, function (status, text) {"
      "  got[name] = status + ':' + text + ':' + (typeof velmora); }); }"
      "function answer(name) { return got[name] === undefined ? '' : got[name]; }</script>"));
  auto ask = [&](const std::string& name, const std::string& url) {
    auto reply = view.Call("ask", {ScriptValue::String(name), ScriptValue::String(url)});
    return reply && reply->ToText() == "true";
  };
  auto answer = [&](const std::string& name) {
    return view.Call("answer", {ScriptValue::String(name)})->text;
  };
  ASSERT_TRUE(ask("a", server.Url("/answer")));
  ASSERT_TRUE(ask("g", server.Url("/gbk")));
  ASSERT_TRUE(ask("missing", server.Url("/missing")));
  EXPECT_FALSE(ask("ftp", "ftp://127.0.0.1/x"));
  ASSERT_TRUE(Pump([&] { return !answer("a").empty() && !answer("g").empty() && !answer("missing").empty(); }));
  EXPECT_EQ(answer("a"), "200:回答 42:object");
  EXPECT_EQ(answer("g"), "200:线路:object");
  EXPECT_EQ(answer("missing"), "404:not found:object");

  // An answer for a document that was replaced meanwhile goes nowhere.
  ASSERT_TRUE(ask("late", server.Url("/slow")));
  ASSERT_TRUE(server.WaitForRequests(4));
  ASSERT_TRUE(view.LoadHtml("<script>function answer() { return 'new page'; }</script>"));
  EXPECT_EQ(view.Text("answer"), "new page");
}

TEST_F(HtmlViewTest, DestroyingAViewCancelsItsFetches) {
  test::HttpTestServer server;
  server.Route("/slow", test::HttpReply::Delayed(5000, test::HttpReply::Ok("late")));
  auto view = std::make_unique<RecordingView>();
  ASSERT_TRUE(view->LoadHtml("<script>function ask(url) { return velmora.fetch(url, function () {}); }</script>"));
  ASSERT_TRUE(view->Call("ask", {ScriptValue::String(server.Url("/slow"))}));
  ASSERT_TRUE(server.WaitForRequests(1));
  auto start = std::chrono::steady_clock::now();
  view.reset();  // the transfer is cancelled, not waited for
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(4000));
  UiDispatcher().PumpPending();
}

TEST_F(HtmlViewTest, TheFrontEndsFactoryMakesTheEnginesOfNewViews) {
  int made = 0;
  SetHtmlEngineFactory([&] {
    ++made;
    ScriptLimits limits;
    limits.call_ms = 77;
    return std::make_unique<CScriptPageEngine>(limits);
  });
  RecordingView view;
  auto* engine = dynamic_cast<CScriptPageEngine*>(&view.Engine());
  SetHtmlEngineFactory(nullptr);
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(made, 1);
  EXPECT_EQ(engine->Script().Limits().call_ms, 77u);
  RecordingView plain;
  EXPECT_EQ(dynamic_cast<CScriptPageEngine&>(plain.Engine()).Script().Limits().call_ms, ScriptLimits{}.call_ms);
}

// ---- activation ----

class DialogFrame : public CWnd, public IActiveViewFrame {
 public:
  CWnd* GetActiveView() const override { return active_; }
  void SetActiveView(CWnd* view, bool notify) override {
    ++changes;
    CWnd* old = active_;
    active_ = view;
    if (notify)
      if (auto* html = dynamic_cast<CHtmlViewEx*>(view)) html->OnActivateView(true, view, old);
  }
  int changes = 0;

 private:
  CWnd* active_ = nullptr;
};

TEST_F(HtmlViewTest, ClickingAViewInADialogLikeFrameActivatesItOnce) {
  DialogFrame frame;
  ASSERT_TRUE(frame.Create(nullptr, 1, "frame", 0));
  RecordingView view;
  ASSERT_TRUE(view.Create(&frame, 2, "", WS_CHILD | WS_VISIBLE));
  CWnd other;
  ASSERT_TRUE(other.Create(&frame, 3, "edit", WS_CHILD | WS_VISIBLE));
  auto click = [&](CWnd& desktop) {
    return view.SendMessage(WM_MOUSEACTIVATE, desktop.GetSafeHwnd(), MAKELPARAM(1, WM_LBUTTONDOWN));
  };

  EXPECT_EQ(click(frame), MA_ACTIVATE);
  EXPECT_EQ(frame.GetActiveView(), &view);
  EXPECT_EQ(frame.changes, 1);
  EXPECT_TRUE(view.HasFocus());
  EXPECT_EQ(view.activations, 1);

  // Clicking again while it has the focus changes nothing.
  EXPECT_EQ(click(frame), MA_ACTIVATE);
  EXPECT_EQ(frame.changes, 1);
  EXPECT_EQ(view.activations, 1);

  // Still the active view but the focus went elsewhere: the view takes it back.
  other.SetFocus();
  EXPECT_EQ(click(frame), MA_ACTIVATE);
  EXPECT_EQ(frame.changes, 1);
  EXPECT_EQ(view.activations, 2);
  EXPECT_TRUE(view.HasFocus());

  // A click that belongs to another top-level window, or a disabled view, activates nothing.
  CWnd stranger;
  ASSERT_TRUE(stranger.Create(nullptr, 9, "stranger", 0));
  other.SetFocus();
  EXPECT_EQ(click(stranger), MA_ACTIVATE);
  EXPECT_EQ(view.activations, 2);
  view.EnableWindow(false);
  EXPECT_EQ(click(frame), MA_NOACTIVATE);
  EXPECT_EQ(view.activations, 2);
  EXPECT_TRUE(other.HasFocus());
}

}  // namespace
}  // namespace velmora
