#include "platform/standin/dialog_windows.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

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

struct WindowTable {
  std::vector<std::unique_ptr<DialogState>> dialogs;
  // Handle value -> (dialog, control index or -1 for the dialog itself).
  std::map<std::uintptr_t, std::pair<DialogState*, int>> handles;
  // Apart from the handles of the other stand-in windows.
  std::uintptr_t nextHandle = 0x7D000000;
  std::vector<SentItemMessage> sent;
  int screenWidth = 1024;
  int screenHeight = 768;
};

WindowTable& Windows() {
  static WindowTable table;
  return table;
}

HWND NewHandle() {
  WindowTable& r = Windows();
  r.nextHandle += 0x10;
  return reinterpret_cast<HWND>(r.nextHandle);
}

bool SameClass(const std::string& a, const char* b) {
  std::size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (std::size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// MulDiv rounds half away from zero.
int MulDivRound(int value, int multiplier, int divisor) {
  long long product = static_cast<long long>(value) * multiplier;
  long long half = divisor / 2;
  return static_cast<int>(product >= 0 ? (product + half) / divisor : (product - half) / divisor);
}

LRESULT HandleItemMessage(ControlState& c, UINT message, WPARAM wParam, LPARAM lParam) {
  const std::string& cls = c.source.className;
  if (SameClass(cls, "Edit")) {
    if (message == EM_LIMITTEXT) {
      // Zero means the largest limit a single-line edit control has.
      c.textLimit = wParam == 0 ? 0x7FFFFFFE : static_cast<std::size_t>(wParam);
      return 0;
    }
    return 0;
  }
  if (SameClass(cls, "ComboBox")) {
    const int count = static_cast<int>(c.items.size());
    switch (message) {
      case CB_RESETCONTENT:
        c.items.clear();
        c.selection = -1;
        return 0;
      case CB_ADDSTRING: {
        const char* text = reinterpret_cast<const char*>(lParam);
        c.items.push_back(text != nullptr ? text : "");
        return count;
      }
      case CB_GETCOUNT:
        return count;
      case CB_GETCURSEL:
        return c.selection >= 0 ? c.selection : CB_ERR;
      case CB_SETCURSEL: {
        // -1 clears the selection; an index past the end answers CB_ERR and,
        // as under Wine, leaves the selection as it was.
        int index = static_cast<int>(static_cast<std::intptr_t>(wParam));
        if (index < 0) {
          c.selection = -1;
          return CB_ERR;
        }
        if (index >= count) return CB_ERR;
        c.selection = index;
        return index;
      }
      case CB_GETLBTEXTLEN: {
        int index = static_cast<int>(static_cast<std::intptr_t>(wParam));
        if (index < 0 || index >= count) return CB_ERR;
        return static_cast<LRESULT>(c.items[static_cast<std::size_t>(index)].size());
      }
      case CB_GETLBTEXT: {
        // The caller's buffer must hold the entry and its NUL (CB_GETLBTEXTLEN + 1).
        int index = static_cast<int>(static_cast<std::intptr_t>(wParam));
        char* buffer = reinterpret_cast<char*>(lParam);
        if (index < 0 || index >= count || buffer == nullptr) return CB_ERR;
        const std::string& item = c.items[static_cast<std::size_t>(index)];
        std::memcpy(buffer, item.c_str(), item.size() + 1);
        return static_cast<LRESULT>(item.size());
      }
      default:
        return 0;
    }
  }
  if (SameClass(cls, "msctls_statusbar32")) {
    switch (message) {
      case SB_SETTEXTA: {
        // The low byte is the part; the high byte the drawing type (ignored).
        int part = static_cast<int>(wParam & 0xFF);
        const char* text = reinterpret_cast<const char*>(lParam);
        std::string value = text != nullptr ? text : "";
        if (part == SB_SIMPLEID)
          c.simpleText = value;
        else
          c.partTexts[part] = value;
        return TRUE;
      }
      case SB_SIMPLE:
        c.simpleMode = wParam != 0;
        return 0;
      case SB_GETTEXTA: {
        // As under Wine: in simple mode the simple text reads as part 0, and
        // part 255 itself yields nothing and leaves the buffer alone.
        int part = static_cast<int>(wParam & 0xFF);
        if (part == SB_SIMPLEID) return 0;
        std::string value;
        if (c.simpleMode && part == 0) {
          value = c.simpleText;
        } else {
          auto it = c.partTexts.find(part);
          if (it != c.partTexts.end()) value = it->second;
        }
        char* buffer = reinterpret_cast<char*>(lParam);
        if (buffer != nullptr) std::memcpy(buffer, value.c_str(), value.size() + 1);
        return static_cast<LRESULT>(value.size());
      }
      default:
        return 0;
    }
  }
  return 0;
}

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
    } else if (valueTokens[k].kind == TokenKind::Identifier && symbols.contains(valueTokens[k].text)) {
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

int DialogUnitsToPixelsX(int units) { return MulDivRound(units, 6, 4); }
int DialogUnitsToPixelsY(int units) { return MulDivRound(units, 13, 8); }

HWND CreateDialogWindow(int resourceId, HWND owner) {
  const ResourceScript& resources = Resources();
  auto found = resources.dialogs.find(resourceId);
  if (found == resources.dialogs.end()) return nullptr;
  const DialogTemplate& t = found->second;
  WindowTable& r = Windows();
  auto dialog = std::make_unique<DialogState>();
  dialog->handle = NewHandle();
  dialog->owner = owner;
  dialog->resourceId = resourceId;
  // A dialog's template position is relative to its owner's client area; an
  // owner the stand-in does not know counts as standing at the screen origin.
  int originX = 0;
  int originY = 0;
  if (DialogState* parent = FindDialog(owner)) {
    originX = parent->rect.left;
    originY = parent->rect.top;
  }
  dialog->rect.left = originX + DialogUnitsToPixelsX(t.x);
  dialog->rect.top = originY + DialogUnitsToPixelsY(t.y);
  dialog->rect.right = dialog->rect.left + DialogUnitsToPixelsX(t.width);
  dialog->rect.bottom = dialog->rect.top + DialogUnitsToPixelsY(t.height);
  for (const ControlTemplate& ct : t.controls) {
    ControlState c;
    c.handle = NewHandle();
    c.source = ct;
    c.text = ct.text;
    c.enabled = (ct.style & Style::Disabled) == 0;
    c.rect.left = dialog->rect.left + DialogUnitsToPixelsX(ct.x);
    c.rect.top = dialog->rect.top + DialogUnitsToPixelsY(ct.y);
    c.rect.right = c.rect.left + DialogUnitsToPixelsX(ct.width);
    c.rect.bottom = c.rect.top + DialogUnitsToPixelsY(ct.height);
    dialog->controls.push_back(c);
  }
  DialogState* raw = dialog.get();
  r.handles[reinterpret_cast<std::uintptr_t>(raw->handle)] = {raw, -1};
  for (std::size_t i = 0; i < raw->controls.size(); ++i)
    r.handles[reinterpret_cast<std::uintptr_t>(raw->controls[i].handle)] = {raw,
                                                                            static_cast<int>(i)};
  r.dialogs.push_back(std::move(dialog));
  return raw->handle;
}

void DestroyDialogWindow(HWND dialog) {
  if (DialogState* d = FindDialog(dialog)) d->alive = false;
}

DialogState* FindDialog(HWND dialog) {
  WindowTable& r = Windows();
  auto it = r.handles.find(reinterpret_cast<std::uintptr_t>(dialog));
  if (it == r.handles.end() || it->second.second != -1) return nullptr;
  return it->second.first;
}

ControlState* FindControl(HWND dialog, int id) {
  DialogState* d = FindDialog(dialog);
  if (d == nullptr) return nullptr;
  // Windows compares the low 16 bits of the id.
  for (ControlState& c : d->controls)
    if ((c.source.id & 0xFFFF) == (id & 0xFFFF)) return &c;
  return nullptr;
}

ControlState* FindControlByHandle(HWND control) {
  WindowTable& r = Windows();
  auto it = r.handles.find(reinterpret_cast<std::uintptr_t>(control));
  if (it == r.handles.end() || it->second.second < 0) return nullptr;
  return &it->second.first->controls[static_cast<std::size_t>(it->second.second)];
}

HWND ControlHandle(HWND dialog, int id) {
  ControlState* c = FindControl(dialog, id);
  return c != nullptr ? c->handle : nullptr;
}

HWND ParentDialog(HWND control) {
  WindowTable& r = Windows();
  auto it = r.handles.find(reinterpret_cast<std::uintptr_t>(control));
  if (it == r.handles.end() || it->second.second < 0) return nullptr;
  return it->second.first->handle;
}

HWND LastDialog(int resourceId) {
  WindowTable& r = Windows();
  for (auto it = r.dialogs.rbegin(); it != r.dialogs.rend(); ++it)
    if ((*it)->resourceId == resourceId) return (*it)->handle;
  return nullptr;
}

std::string StatusBarDisplay(HWND dialog, int id) {
  ControlState* c = FindControl(dialog, id);
  if (c == nullptr) return "";
  if (c->simpleMode) return c->simpleText;
  auto it = c->partTexts.find(0);
  return it != c->partTexts.end() ? it->second : "";
}

const std::vector<SentItemMessage>& SentItemMessages() { return Windows().sent; }

std::vector<SentItemMessage> SentItemMessages(HWND dialog, int id, UINT message) {
  std::vector<SentItemMessage> out;
  for (const SentItemMessage& m : Windows().sent)
    if (m.dialog == dialog && m.id == id && m.message == message) out.push_back(m);
  return out;
}

void SetScreenSize(int width, int height) {
  Windows().screenWidth = width;
  Windows().screenHeight = height;
}

void ResetDialogWindows() {
  WindowTable& r = Windows();
  r.dialogs.clear();
  r.handles.clear();
  r.sent.clear();
  r.screenWidth = 1024;
  r.screenHeight = 768;
}

}  // namespace standin

using standin::ControlState;
using standin::DialogState;

extern "C" LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam,
                                       LPARAM lParam) {
  standin::SentItemMessage record;
  record.dialog = dialog;
  record.id = id;
  record.message = message;
  record.wParam = wParam;
  record.lParam = lParam;
  if ((message == CB_ADDSTRING || message == SB_SETTEXTA) && lParam != 0)
    record.text = reinterpret_cast<const char*>(lParam);
  // A missing dialog or control: the message goes nowhere and yields 0.
  ControlState* control = standin::FindControl(dialog, id);
  DialogState* owner = standin::FindDialog(dialog);
  if (control != nullptr && owner != nullptr && owner->alive)
    record.result = standin::HandleItemMessage(*control, message, wParam, lParam);
  standin::Windows().sent.push_back(record);
  return record.result;
}

extern "C" int GetDlgCtrlID(HWND control) {
  // Top-level windows (the dialog itself) and unknown handles give 0.
  ControlState* c = standin::FindControlByHandle(control);
  return c != nullptr ? c->source.id : 0;
}

extern "C" int LoadStringA(HINSTANCE /*module*/, UINT id, LPSTR buffer, int bufferSize) {
  // The stand-in has one module's strings; the handle is not checked.
  if (buffer == nullptr || bufferSize <= 0) return 0;
  const auto& strings = standin::Resources().strings;
  auto it = strings.find(id & 0xFFFF);
  if (it == strings.end()) {
    buffer[0] = '\0';
    return 0;
  }
  // At most bufferSize - 1 characters, always terminated; the result is the
  // number of characters copied.
  std::size_t n = std::min(it->second.size(), static_cast<std::size_t>(bufferSize - 1));
  std::memcpy(buffer, it->second.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

extern "C" BOOL GetWindowRect(HWND window, LPRECT rect) {
  if (rect == nullptr) return FALSE;
  if (DialogState* d = standin::FindDialog(window)) {
    *rect = d->rect;
    return TRUE;
  }
  if (ControlState* c = standin::FindControlByHandle(window)) {
    *rect = c->rect;
    return TRUE;
  }
  return FALSE;
}

extern "C" BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL /*repaint*/) {
  RECT r{x, y, x + width, y + height};
  if (DialogState* d = standin::FindDialog(window)) {
    // Controls move with their dialog.
    const LONG dx = x - d->rect.left;
    const LONG dy = y - d->rect.top;
    for (ControlState& c : d->controls) {
      c.rect.left += dx;
      c.rect.right += dx;
      c.rect.top += dy;
      c.rect.bottom += dy;
    }
    d->rect = r;
    ++d->moveCount;
    return TRUE;
  }
  if (ControlState* c = standin::FindControlByHandle(window)) {
    c->rect = r;
    return TRUE;
  }
  return FALSE;
}

extern "C" int GetSystemMetrics(int index) {
  if (index == SM_CXSCREEN) return standin::Windows().screenWidth;
  if (index == SM_CYSCREEN) return standin::Windows().screenHeight;
  return 0;
}
