// ScriptValue: a value that crosses between C++ and a page script (arguments of a call, its reply,
// the arguments of a host function), and the script's own text of a number.
#pragma once
#include <string>
#include <string_view>

namespace velmora {

enum class ScriptType { kUndefined, kNull, kBoolean, kNumber, kString, kFunction, kObject };

struct ScriptValue {
  ScriptType type = ScriptType::kUndefined;
  double number = 0;    // kNumber; also 1/0 for kBoolean
  std::string text;     // kString: the UTF-8 text; kObject: the object's String() text
  int ref = 0;          // kFunction given to a host function: the engine's reference (see CScriptEngine)

  static ScriptValue Undefined() { return {}; }
  static ScriptValue Null() { return {ScriptType::kNull, 0, {}, 0}; }
  static ScriptValue Boolean(bool b) { return {ScriptType::kBoolean, b ? 1.0 : 0.0, {}, 0}; }
  static ScriptValue Number(double v) { return {ScriptType::kNumber, v, {}, 0}; }
  static ScriptValue String(std::string s) { return {ScriptType::kString, 0, std::move(s), 0}; }

  bool IsString() const { return type == ScriptType::kString; }
  bool IsNumber() const { return type == ScriptType::kNumber; }
  bool IsFunction() const { return type == ScriptType::kFunction; }
  // The value as the script's String() writes it: "undefined", "null", "true"/"false", numbers
  // as ScriptNumberText, strings as they are, objects and functions as their text.
  std::string ToText() const;
};

// A number as the script language writes it (Number.prototype.toString with radix 10): the
// shortest digits that read back to the same double, in plain notation from 1e-6 up to 1e21 and
// with an exponent outside that range; "NaN", "Infinity", "-Infinity"; -0 is "0".
std::string ScriptNumberText(double value);
void AppendScriptNumberText(std::string& out, double value);

// Text from a script string made valid UTF-8: a surrogate pair that the script kept as two
// three-byte sequences becomes the one four-byte character, a lone surrogate or any other
// malformed byte becomes U+FFFD.
std::string ScriptTextToUtf8(std::string_view script_text);
// The same into `out`, reusing its memory.
void AssignScriptText(std::string& out, std::string_view script_text);
// Writes the number text of `value` into `buf` (at least kScriptNumberTextMax bytes); returns its
// length.
inline constexpr size_t kScriptNumberTextMax = 32;
size_t WriteScriptNumberText(char* buf, double value);

}  // namespace velmora
