#include "platform/standin/dialog_windows.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

namespace standin {

namespace {

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
