// Character set, decoding and <script> blocks of a page for the script engine.
#include "platform/script/page_scripts.h"

#include <algorithm>

#include "platform/fs.h"
#include "platform/text.h"

namespace velmora {
namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Position of `needle` (lower-case ASCII) in `text` from `from` on, ASCII case ignored.
size_t FindNoCase(std::string_view text, std::string_view needle, size_t from = 0) {
  if (needle.empty()) return from <= text.size() ? from : std::string_view::npos;
  for (size_t i = from; i + needle.size() <= text.size(); ++i) {
    size_t j = 0;
    while (j < needle.size() && LowerAscii(text[i + j]) == needle[j]) ++j;
    if (j == needle.size()) return i;
  }
  return std::string_view::npos;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && FindNoCase(text.substr(0, prefix.size()), prefix) == 0;
}

std::string_view StripUtf8Bom(std::string_view s) {
  if (s.size() >= 3 && s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
  return s;
}

bool IsGbkName(std::string_view cs) {
  return cs == "gb2312" || cs == "gbk" || cs == "gb18030" || cs == "x-gbk" || cs == "cp936" ||
         cs == "windows-936" || cs == "ms936" || cs == "euc-cn" || cs == "x-euc-cn";
}

// &amp; &lt; &gt; &quot; &#39; &apos; and numeric ASCII references in attribute values.
std::string DecodeEntities(std::string_view v) {
  std::string out;
  out.reserve(v.size());
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] != '&') {
      out += v[i];
      continue;
    }
    size_t semi = v.find(';', i);
    if (semi == std::string_view::npos || semi - i > 8) {
      out += v[i];
      continue;
    }
    std::string_view name = v.substr(i + 1, semi - i - 1);
    char c = 0;
    if (name == "amp") c = '&';
    else if (name == "lt") c = '<';
    else if (name == "gt") c = '>';
    else if (name == "quot") c = '"';
    else if (name == "apos" || name == "#39") c = '\'';
    else if (name.size() >= 2 && name[0] == '#') {
      int code = 0;
      bool digits = true;
      for (char d : name.substr(1)) {
        if (d < '0' || d > '9') digits = false;
        else code = code * 10 + (d - '0');
      }
      if (digits && code > 0 && code < 0x80) c = static_cast<char>(code);
    }
    if (c == 0) {
      out += v[i];
      continue;
    }
    out += c;
    i = semi;
  }
  return out;
}

struct Tag {
  std::string src;
  std::string type;
  std::string language;
  bool has_src = false;
  size_t end = std::string_view::npos;  // just after '>'
};

// Reads the attributes of a tag whose name ends at `pos`, up to its '>'.
Tag ReadTag(std::string_view text, size_t pos) {
  Tag tag;
  size_t i = pos;
  while (i < text.size()) {
    while (i < text.size() && (IsSpace(text[i]) || text[i] == '/')) ++i;
    if (i >= text.size()) break;
    if (text[i] == '>') {
      tag.end = i + 1;
      return tag;
    }
    size_t name_start = i;
    while (i < text.size() && !IsSpace(text[i]) && text[i] != '=' && text[i] != '>' && text[i] != '/') ++i;
    std::string name;
    for (size_t j = name_start; j < i; ++j) name += LowerAscii(text[j]);
    while (i < text.size() && IsSpace(text[i])) ++i;
    std::string value;
    if (i < text.size() && text[i] == '=') {
      ++i;
      while (i < text.size() && IsSpace(text[i])) ++i;
      if (i < text.size() && (text[i] == '"' || text[i] == '\'')) {
        char quote = text[i++];
        size_t close = text.find(quote, i);
        if (close == std::string_view::npos) close = text.size();
        value = DecodeEntities(text.substr(i, close - i));
        i = close < text.size() ? close + 1 : close;
      } else {
        size_t start = i;
        while (i < text.size() && !IsSpace(text[i]) && text[i] != '>') ++i;
        value = DecodeEntities(text.substr(start, i - start));
      }
    }
    if (name == "src") {
      tag.src = value;
      tag.has_src = true;
    } else if (name == "type") {
      tag.type = value;
    } else if (name == "language") {
      tag.language = value;
    }
    if (i == name_start) ++i;  // a stray character: never stand still
  }
  return tag;
}

bool IsScriptType(const Tag& tag) {
  std::string type;
  for (char c : tag.type) type += LowerAscii(c);
  type.erase(std::remove_if(type.begin(), type.end(), IsSpace), type.end());
  if (size_t semi = type.find(';'); semi != std::string::npos) type.resize(semi);
  if (!type.empty()) {
    static constexpr std::string_view kTypes[] = {
        "text/javascript", "application/javascript", "application/x-javascript", "text/ecmascript",
        "application/ecmascript", "text/jscript", "text/livescript", "text/x-javascript"};
    return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
  }
  if (!tag.language.empty()) {
    std::string lang;
    for (char c : tag.language) lang += LowerAscii(c);
    return lang.rfind("javascript", 0) == 0 || lang == "jscript" || lang == "ecmascript";
  }
  return true;
}

std::string PercentDecode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = LowerAscii(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
  };
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
      out += static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

std::string PageCharset(std::string_view page) {
  size_t at = FindNoCase(page, "charset=");
  if (at == std::string_view::npos) return {};
  size_t i = at + 8;
  while (i < page.size() && (page[i] == '"' || page[i] == '\'' || IsSpace(page[i]))) ++i;
  std::string cs;
  while (i < page.size()) {
    char c = page[i];
    bool name_char = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
                     c == '_' || c == '.' || c == ':';
    if (!name_char) break;
    cs += LowerAscii(c);
    ++i;
  }
  return cs;
}

std::string DecodePageText(std::string_view page) {
  page = StripUtf8Bom(page);
  const std::string cs = PageCharset(page);
  if (IsGbkName(cs)) return AnsiToUtf8(page);
  if (cs == "utf-8" || cs == "utf8") return std::string(page);
  return IsValidUtf8(page) ? std::string(page) : AnsiToUtf8(page);
}

std::string ResolveScriptPath(std::string_view src, std::string_view base_folder) {
  std::string s = PercentDecode(src);
  while (!s.empty() && IsSpace(s.front())) s.erase(s.begin());
  while (!s.empty() && IsSpace(s.back())) s.pop_back();
  std::replace(s.begin(), s.end(), '\\', '/');
  if (s.empty()) return {};
  if (StartsWithNoCase(s, "file:")) {
    s.erase(0, 5);
    // file:///path, file://localhost/path and file:/path all name /path.
    if (s.rfind("//", 0) == 0) {
      size_t slash = s.find('/', 2);
      if (slash == std::string::npos) return {};
      std::string host = s.substr(2, slash - 2);
      if (!host.empty() && host != "localhost") return {};
      s.erase(0, slash);
    }
    // A drive letter written the Windows way ("/C:/...") is not a folder of ours.
    return s;
  }
  if (s.rfind("//", 0) == 0) return {};  // a network address without its scheme
  // Any other scheme (http:, https:, data:, about:, javascript:) is not a file.
  size_t colon = s.find(':');
  size_t slash = s.find('/');
  if (colon != std::string::npos && (slash == std::string::npos || colon < slash)) return {};
  if (s.front() == '/') return s;
  std::string path(base_folder);
  if (!path.empty() && path.back() != '/') path += '/';
  return path + s;
}

PageScripts ExtractPageScripts(std::string_view text, std::string_view base_folder) {
  PageScripts out;
  int inline_count = 0;
  size_t i = 0;
  while (i < text.size()) {
    size_t lt = text.find('<', i);
    if (lt == std::string_view::npos) break;
    if (text.substr(lt, 4) == "<!--") {
      size_t close = text.find("-->", lt + 4);
      i = close == std::string_view::npos ? text.size() : close + 3;
      continue;
    }
    const bool script_tag = StartsWithNoCase(text.substr(lt + 1), "script") &&
                            (lt + 7 >= text.size() || IsSpace(text[lt + 7]) || text[lt + 7] == '>' || text[lt + 7] == '/');
    if (!script_tag) {
      i = lt + 1;
      continue;
    }
    Tag tag = ReadTag(text, lt + 7);
    if (tag.end == std::string_view::npos) break;  // a tag cut off by the end of the page
    size_t close = FindNoCase(text, "</script", tag.end);
    std::string_view body = text.substr(tag.end, (close == std::string_view::npos ? text.size() : close) - tag.end);
    if (close == std::string_view::npos) {
      i = text.size();
    } else {
      size_t gt = text.find('>', close);
      i = gt == std::string_view::npos ? text.size() : gt + 1;
    }
    if (!IsScriptType(tag)) continue;
    if (!tag.has_src) {
      ++inline_count;
      out.scripts.push_back({"inline script " + std::to_string(inline_count), std::string(body)});
      continue;
    }
    std::string path = ResolveScriptPath(tag.src, base_folder);
    if (path.empty()) {
      out.errors.push_back("script not read (not a file): " + tag.src);
      continue;
    }
    std::string error;
    auto bytes = ReadFileBytes(path, &error);
    if (!bytes) {
      out.errors.push_back("script not read: " + path + (error.empty() ? "" : ": " + error));
      continue;
    }
    if (bytes->size() > kMaxPageScriptFile) {
      out.errors.push_back("script too large: " + path);
      continue;
    }
    std::string_view raw = StripUtf8Bom(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    out.scripts.push_back({path, IsValidUtf8(raw) ? std::string(raw) : AnsiToUtf8(raw)});
  }
  return out;
}

}  // namespace velmora
