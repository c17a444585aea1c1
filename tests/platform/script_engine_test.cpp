// The script engine of pages nobody sees: calls and replies, limits on time and memory, host
// functions and kept references, documents replaced whole, the script's number text, and how a
// page's scripts are found, decoded and read from files.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <random>

#include "platform/script/page_scripts.h"
#include "platform/script/script_engine.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

std::string Page(const std::string& script) { return "<html><head><script>" + script + "</script></head></html>"; }

ScriptLimits SmallLimits() {
  ScriptLimits limits;
  limits.call_ms = 150;
  limits.load_ms = 150;
  limits.memory_bytes = size_t(8) << 20;
  return limits;
}

std::optional<ScriptValue> CallByName(CScriptEngine& engine, const char* name, std::vector<ScriptValue> args = {},
                                      std::string* error = nullptr) {
  int ref = engine.FindFunction(name);
  if (ref == 0) return std::nullopt;
  return engine.Call(ref, args, error);
}

TEST(ScriptEngineTest, CallsFunctionsWithNumbersAndStringsAndReadsEveryKindOfReply) {
  CScriptEngine engine;
  ASSERT_TRUE(engine.LoadPage(Page(R"(
      function add(a, b) { return a + b; }
      function join(a, b) { return a + "|" + b; }
      function pair() { return [12.5, -3]; }
      function nothing() {}
      function flag() { return true; }
      function emoji() { return "\uD83D\uDE00"; })"),
                              "/").loaded);
  auto sum = CallByName(engine, "add", {ScriptValue::Number(1.25), ScriptValue::Number(2)});
  ASSERT_TRUE(sum);
  EXPECT_EQ(sum->type, ScriptType::kNumber);
  EXPECT_EQ(sum->number, 3.25);

  // Text goes in and comes back as the same UTF-8 bytes.
  const std::string chinese = "北京市 海淀区";
  auto joined = CallByName(engine, "join", {ScriptValue::String(chinese), ScriptValue::String("😀")});
  ASSERT_TRUE(joined && joined->IsString());
  EXPECT_EQ(joined->text, chinese + "|😀");

  // An object reply is read as its String() text; no reply is undefined.
  auto pair = CallByName(engine, "pair");
  ASSERT_TRUE(pair);
  EXPECT_EQ(pair->type, ScriptType::kObject);
  EXPECT_EQ(pair->ToText(), "12.5,-3");
  EXPECT_EQ(CallByName(engine, "nothing")->type, ScriptType::kUndefined);
  EXPECT_EQ(CallByName(engine, "flag")->ToText(), "true");
  // A character the script builds from UTF-16 halves comes back as one four-byte character.
  EXPECT_EQ(CallByName(engine, "emoji")->text, "😀");
}

TEST(ScriptEngineTest, FunctionReferencesBelongToTheirDocument) {
  CScriptEngine engine;
  ASSERT_TRUE(engine.LoadPage(Page("var notAFunction = 3; function f() { return 1; }"), "/").loaded);
  int f = engine.FindFunction("f");
  EXPECT_NE(f, 0);
  EXPECT_EQ(engine.FindFunction("f"), f);
  EXPECT_EQ(engine.FindFunction("notAFunction"), 0);
  EXPECT_EQ(engine.FindFunction("missing"), 0);
  uint64_t generation = engine.Generation();

  // A function defined later (by a call) is found then.
  ASSERT_TRUE(engine.RunScript("function later() { return 2; }", "later"));
  EXPECT_NE(engine.FindFunction("later"), 0);

  ASSERT_TRUE(engine.LoadPage(Page("function g() { return 2; }"), "/").loaded);
  EXPECT_NE(engine.Generation(), generation);
  EXPECT_EQ(engine.FindFunction("f"), 0);
  EXPECT_EQ(CallByName(engine, "g")->number, 2);

  engine.Clear();
  EXPECT_FALSE(engine.HasDocument());
  std::string error;
  EXPECT_FALSE(engine.Call(1, {}, &error));
  EXPECT_FALSE(error.empty());
}

TEST(ScriptEngineTest, ScriptErrorsFailTheCallAndTheEngineCarriesOn) {
  CScriptEngine engine;
  ASSERT_TRUE(engine.LoadPage(Page(R"(
      function boom() { throw new Error("broken page"); }
      function odd() { throw { toString: function () { for (;;) {} } }; }
      function ok() { return "ok"; })"),
                              "/").loaded);
  std::string error;
  EXPECT_FALSE(CallByName(engine, "boom", {}, &error));
  EXPECT_NE(error.find("broken page"), std::string::npos) << error;
  // An error whose text is itself a runaway script still ends.
  EXPECT_FALSE(CallByName(engine, "odd", {}, &error));
  EXPECT_EQ(CallByName(engine, "ok")->text, "ok");
}

TEST(ScriptEngineTest, RunawayScriptsFailTheirCallAndCannotCatchTheirWayOut) {
  CScriptEngine engine(SmallLimits());
  ASSERT_TRUE(engine.LoadPage(Page(R"(
      function spin() { for (;;) {} }
      function stubborn() { for (;;) { try { for (;;) {} } catch (e) {} finally { } } }
      function ok(x) { return x * 2; })"),
                              "/").loaded);
  for (const char* name : {"spin", "stubborn"}) {
    auto start = std::chrono::steady_clock::now();
    std::string error;
    EXPECT_FALSE(CallByName(engine, name, {}, &error)) << name;
    EXPECT_NE(error.find("timeout"), std::string::npos) << error;
    // Bounded by the call limit (150 ms) plus the check's granularity; generous for slow CI.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << name;
    EXPECT_EQ(CallByName(engine, "ok", {ScriptValue::Number(21)})->number, 42) << "after " << name;
  }
}

TEST(ScriptEngineTest, ARunawayScriptBlockAtLoadIsReportedAndTheRestOfThePageLoads) {
  CScriptEngine engine(SmallLimits());
  auto result = engine.LoadPage("<script>while (true) {}</script><script>function ready() { return 1; }</script>", "/");
  ASSERT_TRUE(result.loaded);
  ASSERT_EQ(result.errors.size(), 1u);
  EXPECT_NE(result.errors[0].find("inline script 1"), std::string::npos) << result.errors[0];
  EXPECT_EQ(CallByName(engine, "ready")->number, 1);
}

TEST(ScriptEngineTest, MemoryHungryScriptsFailTheirCallAndTheirMemoryComesBack) {
  CScriptEngine engine(SmallLimits());
  ASSERT_TRUE(engine.LoadPage(Page(R"(
      var kept = [], chunk = "x";
      while (chunk.length < 65536) chunk += chunk;
      function hog() { var a = []; for (;;) a.push(chunk + a.length); }
      function doubling() { var s = "x"; for (;;) s = s + s; }
      function hogForever() { for (;;) { try { kept.push(chunk + kept.length); } catch (e) {} } }
      function release() { kept = []; return 1; }
      function ok() { return "still here"; })"),
                              "/").loaded);
  for (const char* name : {"hog", "doubling"}) {
    std::string error;
    EXPECT_FALSE(CallByName(engine, name, {}, &error)) << name;
    EXPECT_EQ(error, "script memory limit reached") << name;
    EXPECT_LE(engine.MemoryUsed(), engine.Limits().memory_bytes);
    EXPECT_EQ(CallByName(engine, "ok")->text, "still here") << "after " << name;
  }
  std::string error;
  // A script that swallows every allocation failure runs into the time limit instead.
  EXPECT_FALSE(CallByName(engine, "hogForever", {}, &error));
  EXPECT_EQ(CallByName(engine, "release")->number, 1);
  EXPECT_EQ(CallByName(engine, "ok")->text, "still here");
  EXPECT_LT(engine.MemoryUsed(), engine.Limits().memory_bytes / 2);
}

TEST(ScriptEngineTest, APageThatCannotBeLoadedLeavesTheOldDocument) {
  ScriptLimits limits = SmallLimits();
  limits.memory_bytes = 256 << 10;
  CScriptEngine engine(limits);
  ASSERT_TRUE(engine.LoadPage(Page("function old() { return 'old'; }"), "/").loaded);
  std::string huge = Page("var s = '" + std::string(300 << 10, 'a') + "';");
  auto result = engine.LoadPage(huge, "/");
  EXPECT_FALSE(result.loaded);
  EXPECT_EQ(CallByName(engine, "old")->text, "old");
}

TEST(ScriptEngineTest, HostFunctionsReceiveArgumentsAndKeepCallbacks) {
  CScriptEngine engine;
  std::vector<ScriptValue> seen;
  int kept = 0;
  engine.DefineHostFunction("velmora", "record", [&](std::span<ScriptValue> args) {
    seen.assign(args.begin(), args.end());
    return ScriptValue::String("recorded " + std::to_string(args.size()));
  });
  engine.DefineHostFunction("velmora", "later", [&](std::span<ScriptValue> args) {
    if (args.empty() || !args[0].IsFunction()) throw std::runtime_error("a function is needed");
    kept = std::exchange(args[0].ref, 0);
    return ScriptValue::Boolean(true);
  });
  engine.DefineHostFunction("", "twice", [](std::span<ScriptValue> args) {
    return ScriptValue::Number(args.empty() ? 0 : args[0].number * 2);
  });
  ASSERT_TRUE(engine.LoadPage(Page(R"(
      var got = "";
      function test() { return velmora.record(1.5, "二", null, true, {a: 1}, function () {}) + " " + twice(4); }
      function arm() { return velmora.later(function (status, text) { got = status + ":" + text; return "done"; }); }
      function bad() { return velmora.later(5); }
      function result() { return got; })"),
                              "/").loaded);
  EXPECT_EQ(CallByName(engine, "test")->text, "recorded 6 8");
  ASSERT_EQ(seen.size(), 6u);
  EXPECT_EQ(seen[0].number, 1.5);
  EXPECT_EQ(seen[1].text, "二");
  EXPECT_EQ(seen[2].type, ScriptType::kNull);
  EXPECT_EQ(seen[3].ToText(), "true");
  EXPECT_EQ(seen[4].type, ScriptType::kObject);
  EXPECT_EQ(seen[5].type, ScriptType::kFunction);

  ASSERT_TRUE(CallByName(engine, "arm"));
  ASSERT_GT(kept, 0);
  std::vector<ScriptValue> answer{ScriptValue::Number(200), ScriptValue::String("答复")};
  EXPECT_EQ(engine.Call(kept, answer)->text, "done");
  EXPECT_EQ(CallByName(engine, "result")->text, "200:答复");
  engine.Release(kept);
  EXPECT_FALSE(engine.Call(kept, answer));

  // A host function that throws becomes a script error.
  std::string error;
  EXPECT_FALSE(CallByName(engine, "bad", {}, &error));
  EXPECT_NE(error.find("a function is needed"), std::string::npos) << error;
}

// The number text of the engine's host side is the script's own, digit for digit.
TEST(ScriptEngineTest, NumberTextIsTheScriptsOwn) {
  CScriptEngine engine;
  ASSERT_TRUE(engine.LoadPage(Page("function text(x) { return String(x); }"), "/").loaded);
  int text = engine.FindFunction("text");
  std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 0.1, 1e21, 1e-7, 1e-6, 123456789012345680000.0,
                                1.7976931348623157e308, 5e-324, 2.2250738585072014e-308, 0.5, 100.0,
                                55234323.342222221, 25476240.263011880, 116.397128, 39.916527, -3.0,
                                std::nan(""), INFINITY, -INFINITY, 4.35, 0.000001234, 1e20, 123e-20,
                                0.1 + 0.2, 9.99999e-7, 9007199254740991.0, 9007199254740992.0,
                                4503599627370495.5, 1e16, 123.456, 5e-7};
  std::mt19937_64 random(18);
  std::uniform_real_distribution<double> lng(-180, 180), pixels(0, 67108864);
  for (int i = 0; i < 3000; ++i) {
    uint64_t bits = random();
    double any;
    std::memcpy(&any, &bits, sizeof any);
    values.push_back(any);
    values.push_back(lng(random));
    values.push_back(pixels(random));
    values.push_back(std::round(pixels(random)));
  }
  int differ = 0;
  for (double v : values) {
    ScriptValue arg = ScriptValue::Number(v);
    auto reply = engine.Call(text, std::span<const ScriptValue>(&arg, 1));
    ASSERT_TRUE(reply);
    const std::string ours = ScriptNumberText(v);
    if (reply->text == ours) continue;
    // Where the shortest digits end in an exact tie, Duktape rounds the last digit up and the
    // language's rule (and std::to_chars) take the even one: the texts differ in that digit
    // and both read back to the same number.
    const bool tie = reply->text.size() == ours.size() &&
                     reply->text.substr(0, ours.size() - 1) == ours.substr(0, ours.size() - 1) &&
                     std::stod(reply->text) == v && std::stod(ours) == v && (ours.back() - '0') % 2 == 0;
    if (!tie && ++differ < 10) ADD_FAILURE() << reply->text << " != " << ours;
  }
  EXPECT_EQ(differ, 0);
}

// velmora.numtext, the quick way for pages to write numbers, gives what String() and "," give.
TEST(ScriptEngineTest, NumberTextOfPagesJoinsTheScriptsOwnTexts) {
  CScriptEngine engine;
  ASSERT_TRUE(engine.LoadPage(Page(R"(
      function quick(a, b) { return velmora.numtext(a, b); }
      function plain(a, b) { return String(a) + "," + String(b); }
      function mixed() { return velmora.numtext(1.5, "文", null, [1, 2], 1e21, -0, NaN); }
      function none() { return velmora.numtext(); })"),
                              "/").loaded);
  EXPECT_EQ(CallByName(engine, "mixed")->text, "1.5,文,null,1,2,1e+21,0,NaN");
  EXPECT_EQ(CallByName(engine, "none")->text, "");
  int quick = engine.FindFunction("quick"), plain = engine.FindFunction("plain");
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> pixels(-1e8, 1e8);
  for (int i = 0; i < 2000; ++i) {
    const ScriptValue args[2] = {ScriptValue::Number(pixels(random)), ScriptValue::Number(pixels(random) / 1e6)};
    auto fast = engine.Call(quick, args), slow = engine.Call(plain, args);
    ASSERT_TRUE(fast && slow);
    EXPECT_EQ(fast->text, ScriptNumberText(args[0].number) + "," + ScriptNumberText(args[1].number));
    // Both read back to the same numbers (the texts differ only where Duktape rounds a tie up).
    size_t fc = fast->text.find(','), sc = slow->text.find(',');
    EXPECT_EQ(std::stod(fast->text.substr(0, fc)), std::stod(slow->text.substr(0, sc)));
    EXPECT_EQ(std::stod(fast->text.substr(fc + 1)), std::stod(slow->text.substr(sc + 1)));
  }
}

TEST(ScriptEngineTest, ScriptTextBecomesValidUtf8) {
  EXPECT_EQ(ScriptTextToUtf8("plain 文字"), "plain 文字");
  // U+1F600 kept as two three-byte UTF-16 halves, then a lone half and a stray byte.
  EXPECT_EQ(ScriptTextToUtf8("\xED\xA0\xBD\xED\xB8\x80"), "😀");
  EXPECT_EQ(ScriptTextToUtf8("a\xED\xA0\xBD" "b\x80"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

// ---- page scripts ----

TEST(PageScriptsTest, CharsetAndDecoding) {
  EXPECT_EQ(PageCharset("<meta http-equiv=Content-Type content='text/html; charset=gb2312'>"), "gb2312");
  EXPECT_EQ(PageCharset("<meta CHARSET=\"UTF-8\">"), "utf-8");
  EXPECT_EQ(PageCharset("<p>no declaration</p>"), "");

  const std::string gbk = Utf8ToAnsi(std::string_view("路线"));
  EXPECT_EQ(DecodePageText("<meta charset=gbk><p>" + gbk), "<meta charset=gbk><p>路线");
  // Without a declaration: UTF-8 when it is valid UTF-8, else GBK.
  EXPECT_EQ(DecodePageText("<p>路线"), "<p>路线");
  EXPECT_EQ(DecodePageText("<p>" + gbk), "<p>路线");
  EXPECT_EQ(DecodePageText("\xEF\xBB\xBF<p>x"), "<p>x");
}

TEST(PageScriptsTest, FindsScriptBlocksInOrderAndReadsScriptFiles) {
  test::TempDir dir;
  test::WriteTestFile(dir.File("js/a.js"), "var a = 1;");
  test::WriteTestFile(dir.File("abs.js"), "var b = 2;");
  test::WriteTestFile(dir.File("gbk.js"), "var c = '" + Utf8ToAnsi(std::string_view("公交")) + "';");
  const std::string page =
      "<html><!-- <script>var commented = 1;</script> -->\n"
      "<SCRIPT type='text/javascript'>var first = 1;</SCRIPT>\n"
      "<script src=\"js/a.js\"></script>\n"
      "<script src='" + dir.File("abs.js") + "'>ignored body</script>\n"
      "<script src=\"file://" + dir.File("gbk.js") + "\"></script>\n"
      "<script type=\"text/template\"><p>not a script</p></script>\n"
      "<script src=\"https://example.invalid/x.js\"></script>\n"
      "<script src=\"missing.js\"></script>\n"
      "<script language=\"JavaScript\">var last = '</scr' + 'ipt>';</script>\n"
      "<script>var cut = 1;";
  PageScripts found = ExtractPageScripts(page, dir.path());
  ASSERT_EQ(found.scripts.size(), 6u);
  EXPECT_EQ(found.scripts[0].source, "var first = 1;");
  EXPECT_EQ(found.scripts[0].name, "inline script 1");
  EXPECT_EQ(found.scripts[1].source, "var a = 1;");
  EXPECT_EQ(found.scripts[1].name, dir.File("js/a.js"));
  EXPECT_EQ(found.scripts[2].source, "var b = 2;");
  EXPECT_EQ(found.scripts[3].source, "var c = '公交';");
  EXPECT_EQ(found.scripts[4].source, "var last = '</scr' + 'ipt>';");
  EXPECT_EQ(found.scripts[5].source, "var cut = 1;");
  ASSERT_EQ(found.errors.size(), 2u);
  EXPECT_NE(found.errors[0].find("https://example.invalid/x.js"), std::string::npos);
  EXPECT_NE(found.errors[1].find("missing.js"), std::string::npos);
}

TEST(PageScriptsTest, ResolvesScriptPaths) {
  EXPECT_EQ(ResolveScriptPath("lib/x.js", "/opt/v/"), "/opt/v/lib/x.js");
  EXPECT_EQ(ResolveScriptPath("lib\\x.js", "/opt/v"), "/opt/v/lib/x.js");
  EXPECT_EQ(ResolveScriptPath("/srv/x.js", "/opt/v/"), "/srv/x.js");
  EXPECT_EQ(ResolveScriptPath("file:///srv/a%20b.js", "/opt/v/"), "/srv/a b.js");
  EXPECT_EQ(ResolveScriptPath("file://localhost/srv/x.js", "/"), "/srv/x.js");
  EXPECT_EQ(ResolveScriptPath("file://server/share/x.js", "/"), "");
  EXPECT_EQ(ResolveScriptPath("http://host/x.js", "/"), "");
  EXPECT_EQ(ResolveScriptPath("//host/x.js", "/"), "");
  EXPECT_EQ(ResolveScriptPath("data:text/javascript,1", "/"), "");
}

TEST(PageScriptsTest, ALoadedPageRunsItsFilesBesideTheBaseFolder) {
  test::TempDir dir;
  test::WriteTestFile(dir.File("lib.js"), "function libValue() { return 'from the file'; }");
  CScriptEngine engine;
  auto result = engine.LoadPage("<script src='lib.js'></script><script>function use() { return libValue(); }</script>",
                                dir.path());
  ASSERT_TRUE(result.loaded);
  EXPECT_TRUE(result.errors.empty());
  EXPECT_EQ(CallByName(engine, "use")->text, "from the file");
}

}  // namespace
}  // namespace velmora
