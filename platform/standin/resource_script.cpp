#include "platform/standin/resource_script.h"

#include <cctype>
#include <utility>

#include "platform/standin/module_resources.h"

namespace standin {

namespace {

enum class TokenKind { End, Identifier, Number, String, Punct };

struct Token {
  TokenKind kind = TokenKind::End;
  std::string text;
  long long number = 0;
  int line = 0;
};

// Splits script text into tokens. Preprocessor lines are handed to
// onDirective instead; comments are dropped.
template <class OnDirective>
std::vector<Token> Tokenize(const std::string& s, std::vector<std::string>& errors,
                            OnDirective onDirective) {
  std::vector<Token> tokens;
  int line = 1;
  bool lineStart = true;
  std::size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == '\n') {
      ++line;
      lineStart = true;
      ++i;
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    if (lineStart && c == '#') {
      std::size_t end = s.find('\n', i);
      if (end == std::string::npos) end = s.size();
      onDirective(s.substr(i, end - i), line);
      i = end;
      continue;
    }
    lineStart = false;
    if (c == '/' && i + 1 < s.size() && s[i + 1] == '/') {
      while (i < s.size() && s[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      std::size_t end = s.find("*/", i + 2);
      if (end == std::string::npos) end = s.size() - 2;
      for (std::size_t k = i; k < end + 2 && k < s.size(); ++k)
        if (s[k] == '\n') ++line;
      i = end + 2;
      continue;
    }
    Token t;
    t.line = line;
    if (c == '"') {
      // Resource strings double a quote to embed it; \n, \t and \\ are escapes.
      t.kind = TokenKind::String;
      ++i;
      bool closed = false;
      while (i < s.size()) {
        char d = s[i];
        if (d == '"') {
          if (i + 1 < s.size() && s[i + 1] == '"') {
            t.text += '"';
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        if (d == '\n') break;
        if (d == '\\' && i + 1 < s.size()) {
          char e = s[i + 1];
          if (e == 'n' || e == 't' || e == '\\') {
            t.text += e == 'n' ? '\n' : e == 't' ? '\t' : '\\';
            i += 2;
            continue;
          }
        }
        t.text += d;
        ++i;
      }
      if (!closed) errors.push_back("line " + std::to_string(line) + ": unterminated string");
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      t.kind = TokenKind::Number;
      std::size_t start = i;
      while (i < s.size() && std::isalnum(static_cast<unsigned char>(s[i]))) ++i;
      std::string digits = s.substr(start, i - start);
      if (!digits.empty() && (digits.back() == 'L' || digits.back() == 'l')) digits.pop_back();
      try {
        std::size_t used = 0;
        t.number = std::stoll(digits, &used, 0);
        if (used != digits.size()) throw 0;
      } catch (...) {
        errors.push_back("line " + std::to_string(line) + ": bad number " + digits);
      }
      t.text = digits;
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      t.kind = TokenKind::Identifier;
      while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_'))
        t.text += s[i++];
    } else {
      t.kind = TokenKind::Punct;
      t.text = std::string(1, c);
      ++i;
    }
    tokens.push_back(t);
  }
  Token end;
  end.line = line;
  tokens.push_back(end);
  return tokens;
}

// The Windows header constants the script may name.
const std::map<std::string, long long>& BuiltinSymbols() {
  static const std::map<std::string, long long> symbols = {
      {"WS_POPUP", Style::Popup},
      {"WS_CHILD", Style::Child},
      {"WS_VISIBLE", Style::Visible},
      {"WS_DISABLED", Style::Disabled},
      {"WS_CAPTION", Style::Caption},
      {"WS_BORDER", Style::Border},
      {"WS_VSCROLL", Style::VScroll},
      {"WS_SYSMENU", Style::SysMenu},
      {"WS_GROUP", Style::Group},
      {"WS_TABSTOP", Style::TabStop},
      {"DS_MODALFRAME", Style::ModalFrame},
      {"DS_SETFONT", Style::SetFont},
      {"DS_FIXEDSYS", Style::FixedSys},
      {"BS_PUSHBUTTON", Style::PushButton},
      {"BS_DEFPUSHBUTTON", Style::DefPushButton},
      {"BS_AUTOCHECKBOX", Style::AutoCheckBox},
      {"BS_GROUPBOX", Style::GroupBox},
      {"BS_LEFT", Style::ButtonLeft},
      {"ES_LEFT", 0},
      {"ES_NUMBER", Style::EditNumber},
      {"ES_AUTOHSCROLL", Style::EditAutoHScroll},
      {"SS_LEFT", Style::StaticLeft},
      {"CBS_DROPDOWNLIST", Style::DropDownList},
      {"IDOK", IDOK},
      {"IDCANCEL", IDCANCEL},
  };
  return symbols;
}

class ScriptParser {
 public:
  ScriptParser(std::vector<Token> tokens, std::map<std::string, long long> symbols,
               ResourceScript& out)
      : tokens_(std::move(tokens)), symbols_(std::move(symbols)), out_(out) {}

  void Run() {
    while (Peek().kind != TokenKind::End && ok_) {
      if (IsWord("STRINGTABLE")) {
        Next();
        StringTable();
        continue;
      }
      long long id = 0;
      if (!Value(id)) break;
      if (IsWord("DIALOGEX") || IsWord("DIALOG")) {
        Dialog(static_cast<int>(id), Next().text == "DIALOGEX");
      } else {
        Fail("unsupported resource type " + Peek().text);
      }
    }
  }

 private:
  const Token& Peek() const { return tokens_[pos_]; }
  Token Next() {
    Token t = tokens_[pos_];
    if (t.kind != TokenKind::End) ++pos_;
    return t;
  }
  bool IsWord(const char* word) const {
    return Peek().kind == TokenKind::Identifier && Peek().text == word;
  }
  bool IsPunct(char c) const { return Peek().kind == TokenKind::Punct && Peek().text[0] == c; }
  void Fail(const std::string& what) {
    if (ok_) out_.errors.push_back("line " + std::to_string(Peek().line) + ": " + what);
    ok_ = false;
  }
  bool Expect(char c) {
    if (IsPunct(c)) {
      Next();
      return true;
    }
    Fail(std::string("expected '") + c + "' before '" + Peek().text + "'");
    return false;
  }
  bool Begin() {
    if (IsWord("BEGIN") || IsPunct('{')) {
      Next();
      return true;
    }
    Fail("expected BEGIN");
    return false;
  }
  bool AtEnd() const { return IsWord("END") || IsPunct('}'); }

  // term: [-] number | symbol | ( expression )
  bool Term(long long& value) {
    bool negative = false;
    if (IsPunct('-')) {
      Next();
      negative = true;
    }
    if (IsPunct('(')) {
      Next();
      if (!Value(value) || !Expect(')')) return false;
    } else if (Peek().kind == TokenKind::Number) {
      value = Next().number;
    } else if (Peek().kind == TokenKind::Identifier) {
      auto it = symbols_.find(Peek().text);
      if (it == symbols_.end()) {
        Fail("unknown symbol " + Peek().text);
        return false;
      }
      Next();
      value = it->second;
    } else {
      Fail("expected a value before '" + Peek().text + "'");
      return false;
    }
    if (negative) value = -value;
    return true;
  }
  // expression: term { | term }
  bool Value(long long& value) {
    if (!Term(value)) return false;
    while (IsPunct('|')) {
      Next();
      long long more = 0;
      if (!Term(more)) return false;
      value |= more;
    }
    return true;
  }
  bool Text(std::string& text) {
    if (Peek().kind != TokenKind::String) {
      Fail("expected a string before '" + Peek().text + "'");
      return false;
    }
    text = Next().text;
    return true;
  }
  bool Numbers(int* values, int count) {
    for (int k = 0; k < count; ++k) {
      if (k > 0 && !Expect(',')) return false;
      long long v = 0;
      if (!Value(v)) return false;
      values[k] = static_cast<int>(v);
    }
    return true;
  }

  void Dialog(int id, bool extended) {
    DialogTemplate d;
    d.resourceId = id;
    d.extended = extended;
    // Memory flags are accepted and mean nothing.
    while (IsWord("MOVEABLE") || IsWord("PURE") || IsWord("DISCARDABLE") || IsWord("PRELOAD") ||
           IsWord("LOADONCALL") || IsWord("FIXED") || IsWord("IMPURE"))
      Next();
    int rect[4] = {};
    if (!Numbers(rect, 4)) return;
    d.x = rect[0];
    d.y = rect[1];
    d.width = rect[2];
    d.height = rect[3];
    while (ok_ && !(IsWord("BEGIN") || IsPunct('{'))) {
      long long v = 0;
      if (IsWord("STYLE")) {
        Next();
        if (Value(v)) d.style = static_cast<DWORD>(v);
      } else if (IsWord("EXSTYLE")) {
        Next();
        if (Value(v)) d.exStyle = static_cast<DWORD>(v);
      } else if (IsWord("CAPTION")) {
        Next();
        Text(d.caption);
      } else if (IsWord("FONT")) {
        Next();
        if (!Value(v) || !Expect(',')) return;
        d.fontSize = static_cast<int>(v);
        if (!Text(d.fontFace)) return;
        while (ok_ && IsPunct(',')) {  // weight, italic, charset
          Next();
          Value(v);
        }
      } else {
        Fail("unsupported dialog statement " + Peek().text);
      }
    }
    if (!Begin()) return;
    while (ok_ && !AtEnd()) {
      if (!IsWord("CONTROL")) {
        Fail("unsupported control statement " + Peek().text);
        return;
      }
      Next();
      ControlTemplate c;
      long long v = 0;
      if (!Text(c.text) || !Expect(',') || !Value(v) || !Expect(',')) return;
      c.id = static_cast<int>(v & 0xFFFF);
      if (!Text(c.className) || !Expect(',') || !Value(v) || !Expect(',')) return;
      c.style = static_cast<DWORD>(v);
      int r[4] = {};
      if (!Numbers(r, 4)) return;
      c.x = r[0];
      c.y = r[1];
      c.width = r[2];
      c.height = r[3];
      if (IsPunct(',')) {
        Next();
        if (!Value(v)) return;
        c.exStyle = static_cast<DWORD>(v);
        if (IsPunct(',')) {  // help id
          Next();
          if (!Value(v)) return;
        }
      }
      d.controls.push_back(c);
    }
    if (!ok_) return;
    Next();
    if (out_.dialogs.contains(id)) {
      Fail("dialog " + std::to_string(id) + " defined twice");
      return;
    }
    out_.dialogs[id] = d;
  }

  void StringTable() {
    while (ok_ && !(IsWord("BEGIN") || IsPunct('{'))) {
      if (IsWord("LANGUAGE") || IsWord("CHARACTERISTICS") || IsWord("VERSION")) {
        Fail("unsupported string table option " + Peek().text);
        return;
      }
      Fail("expected BEGIN");
      return;
    }
    if (!Begin()) return;
    while (ok_ && !AtEnd()) {
      long long id = 0;
      std::string text;
      if (!Value(id)) return;
      if (IsPunct(',')) Next();
      if (!Text(text)) return;
      UINT key = static_cast<UINT>(id & 0xFFFF);
      if (out_.strings.contains(key)) {
        Fail("string " + std::to_string(key) + " defined twice");
        return;
      }
      out_.strings[key] = text;
    }
    if (ok_) Next();
  }

  std::vector<Token> tokens_;
  std::map<std::string, long long> symbols_;
  ResourceScript& out_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace

ResourceScript ParseResourceScript(const std::string& script, const std::string& idHeader) {
  ResourceScript out;
  std::map<std::string, long long> symbols = BuiltinSymbols();
  // The header's #define lines become symbols; other directives are skipped.
  std::vector<std::string> headerErrors;
  Tokenize(idHeader, headerErrors, [&](const std::string& directive, int line) {
    std::vector<std::string> unused;
    std::vector<Token> parts =
        Tokenize(directive.substr(1), unused, [](const std::string&, int) {});
    if (parts.empty() || parts[0].kind != TokenKind::Identifier || parts[0].text != "define")
      return;
    if (parts.size() < 3 || parts[1].kind != TokenKind::Identifier) {
      out.errors.push_back("header line " + std::to_string(line) + ": bad #define");
      return;
    }
    std::vector<Token> valueTokens(parts.begin() + 2, parts.end());
    // A value is a number, optionally negated, or a symbol defined earlier.
    long long value = 0;
    bool negative = false;
    std::size_t k = 0;
    if (valueTokens[k].kind == TokenKind::Punct && valueTokens[k].text == "-") {
      negative = true;
      ++k;
    }
    if (valueTokens[k].kind == TokenKind::Number) {
      value = valueTokens[k].number;
    } else if (valueTokens[k].kind == TokenKind::Identifier &&
               symbols.contains(valueTokens[k].text)) {
      value = symbols[valueTokens[k].text];
    } else {
      out.errors.push_back("header line " + std::to_string(line) + ": unsupported value");
      return;
    }
    if (valueTokens[k + 1].kind != TokenKind::End) {
      out.errors.push_back("header line " + std::to_string(line) + ": unsupported value");
      return;
    }
    symbols[parts[1].text] = negative ? -value : value;
  });
  for (const std::string& e : headerErrors) out.errors.push_back("header " + e);
  std::vector<Token> tokens = Tokenize(script, out.errors, [](const std::string&, int) {});
  ScriptParser parser(std::move(tokens), std::move(symbols), out);
  parser.Run();
  return out;
}

const ResourceScript& Resources() {
  static const ResourceScript script = ParseResourceScript(ResourceScriptText, ResourceIdsText);
  return script;
}

}  // namespace standin
