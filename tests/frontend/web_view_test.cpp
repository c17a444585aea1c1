// The web view of pages people see (Qt WebEngine on the offscreen platform): a page held in
// memory larger than 2 MB that still loads an image and a script beside the program, page calls
// and the QWebChannel bridge both ways, the charset and "$$ROOT_DATA$$" rules, files outside the
// program folder refused, a silenced page's boxes, and the hidden script window staying on the
// script engine; the web engine is loaded by the first view that people see, not at the start.
#include <QBuffer>
#include <algorithm>
#include <QImage>
#include <QPainter>
#include <dlfcn.h>

#include "core/settings.h"
#include "earth/ui/html_view_ex.h"
#include "earth/ui/html_wnd.h"
#include "earth/ui/script_page_engine.h"
#include "frontend/web_view_loader.h"
#include "frontend_env.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

using test::PumpUntil;

class RecordingView : public CHtmlViewEx {
 public:
  std::vector<std::string> completed;
  std::vector<std::string> messages;

  // Calls the page and waits for its reply.
  std::optional<ScriptValue> Call(const std::string& name, std::vector<ScriptValue> args = {}) {
    bool answered = false;
    std::optional<ScriptValue> reply;
    Engine().CallFunctionAsync(name, std::move(args), [&](std::optional<ScriptValue> r) {
      reply = std::move(r);
      answered = true;
    });
    if (!PumpUntil([&] { return answered; }, 30000)) ADD_FAILURE() << "no answer from " << name;
    return reply;
  }
  std::string Text(const std::string& name) {
    auto reply = Call(name);
    return reply ? reply->ToText() : "<failed>";
  }
  bool LoadAndWait(std::string_view html) {
    size_t before = completed.size();
    return LoadHtml(html) && PumpUntil([&] { return completed.size() > before; }, 60000);
  }

 protected:
  void OnDocumentComplete(const std::string& url) override { completed.push_back(url); }
  void OnPageMessage(const std::string& message) override { messages.push_back(message); }
};

// A program folder with a 7×5 picture and a script.
class ProgramFolder {
 public:
  ProgramFolder() {
    QImage image(7, 5, QImage::Format_ARGB32);
    image.fill(QColor(200, 40, 40));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    test::WriteTestFile(dir.File("images/dot.png"), png.toStdString());
    test::WriteTestFile(dir.File("js/lib.js"),
                        "var libLoaded = 'yes'; function libValue() { return 'from the program folder'; }");
  }
  test::TempDir dir;
};

class FrontendWebViewTest : public ::testing::Test {};

TEST_F(FrontendWebViewTest, APageOverTwoMegabytesFromMemoryReachesTheProgramFolder) {
  ProgramFolder program;
  ScopedAppOptions options([&](CAppOptions& o) { o.program_dir = program.dir.path(); });
  // The session (as the program's) starts without the web engine; the first view that people
  // see loads it.
  EXPECT_FALSE(WebViewsLoaded());
  EXPECT_EQ(dlopen("libQt6WebEngineCore.so.6", RTLD_LAZY | RTLD_NOLOAD), nullptr);
  // Its window is bound before anything asked for its document: the binding makes the engine.
  RecordingView view;
  ASSERT_TRUE(view.Create(nullptr, 1, "web", WS_VISIBLE, RECT{0, 0, 320, 200}));
  CModelBinding* binding = CWindowMirror::Get().Bind(view, nullptr);
  ASSERT_NE(binding, nullptr);
  ASSERT_TRUE(WebViewsLoaded());
  ASSERT_EQ(dynamic_cast<CScriptPageEngine*>(&view.Engine()), nullptr);
  QWidget* widget = binding->Widget();
  ASSERT_TRUE(widget->inherits("QWebEngineView"));
  widget->resize(320, 200);
  widget->show();

  std::string page =
      "<meta charset=\"utf-8\"><body style='margin:0;background:#fff'>"
      "<script src=\"$$ROOT_DATA$$js/lib.js\"></script>"
      "<img id=dot style='width:70px;height:50px' src=\"$$ROOT_DATA$$images/dot.png\">"
      "<script>function state() { var i = document.getElementById('dot');"
      " return libLoaded + ':' + i.naturalWidth + 'x' + i.naturalHeight + ':' + libValue(); }</script>"
      "<!-- ";
  page += std::string(size_t(2600) << 10, 'x');  // past what setHtml accepts
  page += " --><script>var size = document.documentElement.outerHTML.length;</script></body>";
  ASSERT_GT(page.size(), size_t(2) << 20);
  ASSERT_TRUE(view.LoadAndWait(page));
  EXPECT_EQ(view.completed.back(), "about:blank");
  EXPECT_EQ(view.Text("state"), "yes:7x5:from the program folder");
  auto size = view.Call("eval", {ScriptValue::String("size")});
  ASSERT_TRUE(size);
  EXPECT_GT(size->number, 2 << 20);

  // The picture is drawn where the page puts it (scaled to 70×50 at the top-left corner).
  QImage grab;
  bool red = PumpUntil([&] {
    grab = widget->grab().toImage();
    QColor c = grab.pixelColor(35, 25);
    return c.red() > 150 && c.green() < 90 && c.blue() < 90;
  }, 20000);
  test::SaveArtefact(grab, "web_view_program_folder");
  EXPECT_TRUE(red);
  QColor outside = grab.pixelColor(200, 150);
  EXPECT_GT(outside.green(), 200);
  view.DestroyWindow();
  test::Settle();
}

TEST_F(FrontendWebViewTest, CallsIntoThePageAndBackThroughTheBridge) {
  RecordingView view;
  ASSERT_TRUE(view.LoadAndWait(
      "<meta charset=\"utf-8\"><script>"
      "var heard = [];"
      "velmora.onmessage = function (text) { heard.push(text); velmora.postMessage('echo:' + text); };"
      "function add(a, b) { velmora.postMessage('sum ' + (a + b)); return a + b; }"
      "var api = { twice: function (x) { return 2 * x; }, pair: function () { return [12.5, -3]; } };"
      "function boom() { throw new Error('broken'); }"
      "function said() { return heard.join('|'); }</script>"));
  // A message posted before the page's channel is up waits for it.
  view.PostToPage("早");
  auto sum = view.Call("add", {ScriptValue::Number(2), ScriptValue::Number(3.5)});
  ASSERT_TRUE(sum);
  EXPECT_EQ(sum->number, 5.5);
  EXPECT_EQ(view.Call("api.twice", {ScriptValue::Number(21)})->number, 42);
  auto pair = view.Call("api.pair");
  ASSERT_TRUE(pair);
  EXPECT_EQ(pair->type, ScriptType::kObject);
  EXPECT_EQ(pair->text, "12.5,-3");
  EXPECT_FALSE(view.Call("boom"));
  EXPECT_FALSE(view.Call("missing"));
  EXPECT_EQ(view.Call("add", {ScriptValue::String("文"), ScriptValue::String("字")})->text, "文字");

  view.PostToPage("你好");
  ASSERT_TRUE(PumpUntil([&] { return view.messages.size() >= 4; }, 30000));
  // Calls and channel messages travel apart: only each one's own order is kept.
  std::vector<std::string> got = view.messages;
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::string>{"echo:你好", "echo:早", "sum 5.5", "sum 文字"}));
  EXPECT_LT(std::find(view.messages.begin(), view.messages.end(), "echo:早") - view.messages.begin(),
            std::find(view.messages.begin(), view.messages.end(), "echo:你好") - view.messages.begin());
  EXPECT_EQ(view.Text("said"), "早|你好");
}

TEST_F(FrontendWebViewTest, CharsetLineAndProgramFolderOnTheWebEngine) {
  ProgramFolder program;
  ScopedAppOptions options([&](CAppOptions& o) { o.program_dir = program.dir.path(); });
  RecordingView view;
  // GBK bytes without a declaration: the charset line makes the web engine read GBK.
  ASSERT_TRUE(view.LoadAndWait(Utf8ToAnsi(std::string_view(
      "<script>function name() { return '公交线路'; } function root() { return '$$ROOT_DATA$$images/a.png'; }"
      "</script>"))));
  EXPECT_EQ(view.Text("name"), "公交线路");
  EXPECT_EQ(view.Text("root"), program.dir.path() + "images/a.png");
  // Empty text leaves the document.
  EXPECT_FALSE(view.LoadHtml(""));
  EXPECT_EQ(view.Text("name"), "公交线路");
}

TEST_F(FrontendWebViewTest, FilesOutsideTheProgramFolderAreNotServed) {
  ProgramFolder program;
  test::TempDir elsewhere;
  test::WriteTestFile(elsewhere.File("secret.js"), "var secret = 'read';");
  ScopedAppOptions options([&](CAppOptions& o) { o.program_dir = program.dir.path(); });
  RecordingView view;
  ASSERT_TRUE(view.LoadAndWait("<meta charset=utf-8><script src=\"" + elsewhere.File("secret.js") +
                               "\"></script><script src=\"$$ROOT_DATA$$../" +
                               elsewhere.File("secret.js").substr(1) + "\"></script>"
                               "<script>function probe() { return typeof secret; }</script>"));
  EXPECT_EQ(view.Text("probe"), "undefined");
}

TEST_F(FrontendWebViewTest, ASilencedPageShowsNoBoxes) {
  RecordingView view;
  view.SetSilent(true);
  ASSERT_TRUE(view.LoadAndWait("<script>function ask() { alert('x'); return confirm('y') ? 'yes' : 'no'; }"
                               "</script><script>undefinedFunction();</script>"));
  // A box would wait for a person; a silenced page answers at once.
  EXPECT_EQ(view.Text("ask"), "no");
}

TEST_F(FrontendWebViewTest, TheHiddenScriptWindowKeepsTheScriptEngine) {
  CHtmlWnd wnd;
  EXPECT_NE(dynamic_cast<CScriptPageEngine*>(&wnd.Engine()), nullptr);
  ASSERT_TRUE(wnd.CreateHidden(0));
  ASSERT_TRUE(PumpUntil([&] { return wnd.IsCoordReady(); }, 10000));
  double a = 0, b = 0;
  EXPECT_TRUE(wnd.CoordPixel(116.39, 39.9, &a, &b));
  wnd.DestroyHidden();
}

}  // namespace
}  // namespace velmora
