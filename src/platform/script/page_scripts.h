// The scripts of an HTML page, for the script engine of pages nobody sees: the page's bytes read
// by the character set it declares, and its <script> blocks in document order, inline or read
// from files (src= names a file beside the program: absolute, "file://" or relative to a base
// folder). There is no document object model: a page nobody sees only defines functions.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The character set a page declares: the value after the first "charset=" (case ignored), in
// lower case without quotes; "" when none is declared.
std::string PageCharset(std::string_view page);

// The page's bytes as UTF-8: GBK when it declares gb2312, gbk, gb18030 (or another name of code
// page 936), unchanged when it declares UTF-8; without a declaration (or with another one), UTF-8
// when the bytes are valid UTF-8, else GBK. A UTF-8 byte-order mark is dropped.
std::string DecodePageText(std::string_view page);

struct PageScript {
  std::string name;    // the file read, or "inline script <n>" (counted from 1)
  std::string source;  // UTF-8
};

struct PageScripts {
  std::vector<PageScript> scripts;  // in document order
  std::vector<std::string> errors;  // scripts left out, one line each
};

// Largest script file read for a page.
inline constexpr size_t kMaxPageScriptFile = size_t(16) << 20;

// The script blocks of a page (already UTF-8). Blocks whose type is not a script type
// (text/template, ...) are skipped; HTML comments are skipped outside scripts. A src= that names
// a network address, or a file that cannot be read or is too large, is left out with an error
// line. Script files are read as UTF-8 when they are valid UTF-8, else as GBK.
PageScripts ExtractPageScripts(std::string_view page_utf8, std::string_view base_folder);

// The file path a src= attribute names, or "" when it is not a file: "file://" (and
// "file:///") dropped, '\\' read as '/', an absolute path kept, a relative one put after
// `base_folder`; percent escapes decoded.
std::string ResolveScriptPath(std::string_view src, std::string_view base_folder);

}  // namespace velmora
