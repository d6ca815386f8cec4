#include "simhost/dialog_service.h"

#include <cctype>
#include <cstring>
#include <deque>
#include <set>

#include "host/host.h"
#include "platform/standin/dialog_windows.h"
#include "simhost/item_integer.h"

namespace simhost {

namespace {

constexpr UINT EnChange = 0x0300;      // EN_CHANGE
constexpr UINT MouseMove = 0x0200;     // WM_MOUSEMOVE
constexpr LPARAM HitClient = 1;        // HTCLIENT
constexpr DWORD StaticNotify = 0x100;  // SS_NOTIFY

struct Running {
  HWND dialog = nullptr;
  HostDialogProc proc = nullptr;
  std::intptr_t userValue = 0;
  std::size_t runIndex = 0;
  bool ended = false;
};

struct Service {
  std::deque<UserAction> script;
  std::vector<Running> stack;  // innermost dialog last
  std::vector<DialogRun> runs;
  std::vector<std::string> errors;
  std::vector<std::string> ignored;
  std::vector<ItemCall> calls;
  std::set<int> failingTemplates;
};

Service& State() {
  static Service service;
  return service;
}

void Error(const std::string& what) { State().errors.push_back(what); }

bool IsClass(const standin::ControlState& c, const char* name) {
  const std::string& cls = c.source.className;
  if (cls.size() != std::strlen(name)) return false;
  for (std::size_t i = 0; i < cls.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(cls[i])) !=
        std::tolower(static_cast<unsigned char>(name[i])))
      return false;
  return true;
}

DWORD ButtonType(const standin::ControlState& c) {
  return c.source.style & standin::Style::ButtonTypeMask;
}

Running* FindRunning(HWND dialog) {
  for (Running& r : State().stack)
    if (r.dialog == dialog) return &r;
  return nullptr;
}

std::int32_t Deliver(const Running& running, UINT message, WPARAM wParam, LPARAM lParam) {
  return running.proc(running.dialog, message, wParam, lParam, running.userValue);
}

void SendCommand(const Running& running, int id, UINT code, HWND control) {
  Deliver(running, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), static_cast<WORD>(code)),
          reinterpret_cast<LPARAM>(control));
}

std::string Describe(const Running& running, const UserAction& action) {
  standin::DialogState* d = standin::FindDialog(running.dialog);
  return "dialog " + std::to_string(d != nullptr ? d->resourceId : 0) + ", control " +
         std::to_string(action.id);
}

// The control an action names, or null after recording why not.
standin::ControlState* ActionControl(const Running& running, const UserAction& action) {
  standin::ControlState* c = standin::FindControl(running.dialog, action.id);
  if (c == nullptr) Error("no control for the action in " + Describe(running, action));
  return c;
}

bool Usable(const Running& running, const UserAction& action, const standin::ControlState& c) {
  if (c.enabled) return true;
  State().ignored.push_back("disabled: " + Describe(running, action));
  return false;
}

// Replaces the text as the user's keystrokes would.
void TypeInto(const Running& running, const UserAction& action, bool filterDigits) {
  standin::ControlState* c = ActionControl(running, action);
  if (c == nullptr) return;
  if (!IsClass(*c, "Edit")) {
    Error("not an edit field: " + Describe(running, action));
    return;
  }
  if (!Usable(running, action, *c)) return;
  if (standin::DialogState* d = standin::FindDialog(running.dialog)) d->focus = c->handle;
  const bool numeric = filterDigits && (c->source.style & standin::Style::EditNumber) != 0;
  std::string typed;
  for (char ch : action.text) {
    if (numeric && !std::isdigit(static_cast<unsigned char>(ch))) continue;
    if (typed.size() >= c->textLimit) break;
    typed += ch;
  }
  if (typed == c->text) return;
  c->text = typed;
  SendCommand(running, action.id, EnChange, c->handle);
}

void Perform(const Running& running, const UserAction& action) {
  standin::DialogState* dialog = standin::FindDialog(running.dialog);
  switch (action.kind) {
    case UserActionKind::Click: {
      standin::ControlState* c = ActionControl(running, action);
      if (c == nullptr) return;
      if (!IsClass(*c, "Button") || ButtonType(*c) == standin::Style::GroupBox) {
        Error("not a button: " + Describe(running, action));
        return;
      }
      if (!Usable(running, action, *c)) return;
      if (ButtonType(*c) == standin::Style::AutoCheckBox) c->check = c->check != 0 ? 0 : 1;
      dialog->focus = c->handle;
      SendCommand(running, action.id, BN_CLICKED, c->handle);
      return;
    }
    case UserActionKind::Type:
      TypeInto(running, action, true);
      return;
    case UserActionKind::Paste:
      TypeInto(running, action, false);
      return;
    case UserActionKind::Pick: {
      standin::ControlState* c = ActionControl(running, action);
      if (c == nullptr) return;
      if (!IsClass(*c, "ComboBox")) {
        Error("not a list: " + Describe(running, action));
        return;
      }
      if (!Usable(running, action, *c)) return;
      int index = -1;
      for (std::size_t i = 0; i < c->items.size(); ++i)
        if (c->items[i] == action.text) {
          index = static_cast<int>(i);
          break;
        }
      if (index < 0) {
        Error("no entry \"" + action.text + "\" in " + Describe(running, action));
        return;
      }
      c->selection = index;
      dialog->focus = c->handle;
      SendCommand(running, action.id, CBN_SELCHANGE, c->handle);
      return;
    }
    case UserActionKind::Hover: {
      standin::ControlState* c = ActionControl(running, action);
      if (c == nullptr) return;
      // Disabled controls get no mouse input, and group boxes and static
      // texts (without SS_NOTIFY) are transparent to it: the dialog is under
      // the mouse then.
      const bool transparent =
          (IsClass(*c, "Button") && ButtonType(*c) == standin::Style::GroupBox) ||
          (IsClass(*c, "Static") && (c->source.style & StaticNotify) == 0);
      HWND under = (!c->enabled || transparent) ? running.dialog : c->handle;
      Deliver(running, WM_SETCURSOR, reinterpret_cast<WPARAM>(under),
              static_cast<LPARAM>((MouseMove << 16) | HitClient));
      return;
    }
    case UserActionKind::HoverDialog:
      Deliver(running, WM_SETCURSOR, reinterpret_cast<WPARAM>(running.dialog),
              static_cast<LPARAM>((MouseMove << 16) | HitClient));
      return;
    case UserActionKind::CloseBox:
      // The dialog manager turns the close box and Escape into IDCANCEL from
      // the Cancel button (null when there is none).
      SendCommand(running, IDCANCEL, BN_CLICKED, standin::ControlHandle(running.dialog, IDCANCEL));
      return;
    case UserActionKind::Inspect:
      if (action.inspect) action.inspect(running.dialog);
      return;
  }
}

// The control that gets the focus when WM_INITDIALOG returns nonzero: the
// first one with WS_TABSTOP that is visible and enabled.
HWND FirstTabStop(HWND dialog) {
  standin::DialogState* d = standin::FindDialog(dialog);
  if (d == nullptr) return nullptr;
  for (const standin::ControlState& c : d->controls)
    if ((c.source.style & standin::Style::TabStop) != 0 &&
        (c.source.style & standin::Style::Visible) != 0 && c.enabled)
      return c.handle;
  return nullptr;
}

standin::ControlState* CallControl(const char* function, HWND dialog, int id) {
  standin::ControlState* c = standin::FindControl(dialog, id);
  if (c == nullptr)
    Error(std::string(function) + ": no control " + std::to_string(id) + " in that dialog");
  return c;
}

void Record(const char* function, HWND dialog, int id, int kind, std::int32_t value) {
  ItemCall call;
  call.function = function;
  call.dialog = dialog;
  call.id = id;
  call.kind = kind;
  call.value = value;
  State().calls.push_back(call);
}

std::string ControlText(const standin::ControlState& c) {
  if (IsClass(c, "ComboBox"))
    return c.selection >= 0 ? c.items[static_cast<std::size_t>(c.selection)] : std::string();
  return c.text;
}

}  // namespace

namespace user {
UserAction Click(int id) {
  UserAction a;
  a.kind = UserActionKind::Click;
  a.id = id;
  return a;
}
UserAction Press(int id) { return Click(id); }
UserAction Type(int id, std::string text) {
  UserAction a;
  a.kind = UserActionKind::Type;
  a.id = id;
  a.text = std::move(text);
  return a;
}
UserAction Paste(int id, std::string text) {
  UserAction a = Type(id, std::move(text));
  a.kind = UserActionKind::Paste;
  return a;
}
UserAction Pick(int id, std::string entry) {
  UserAction a;
  a.kind = UserActionKind::Pick;
  a.id = id;
  a.text = std::move(entry);
  return a;
}
UserAction Hover(int id) {
  UserAction a;
  a.kind = UserActionKind::Hover;
  a.id = id;
  return a;
}
UserAction HoverDialog() {
  UserAction a;
  a.kind = UserActionKind::HoverDialog;
  return a;
}
UserAction CloseBox() {
  UserAction a;
  a.kind = UserActionKind::CloseBox;
  return a;
}
UserAction Inspect(std::function<void(HWND dialog)> check) {
  UserAction a;
  a.kind = UserActionKind::Inspect;
  a.inspect = std::move(check);
  return a;
}
}  // namespace user

void SetScript(std::vector<UserAction> actions) {
  State().script.assign(actions.begin(), actions.end());
}
void AppendScript(std::vector<UserAction> actions) {
  for (UserAction& a : actions) State().script.push_back(std::move(a));
}
std::size_t PendingActions() { return State().script.size(); }
const std::vector<DialogRun>& DialogRuns() { return State().runs; }
const std::vector<std::string>& ScriptErrors() { return State().errors; }
const std::vector<std::string>& IgnoredActions() { return State().ignored; }
const std::vector<ItemCall>& ItemCalls() { return State().calls; }
void FailDialogCreation(int resourceId) { State().failingTemplates.insert(resourceId); }

int ItemCheck(HWND dialog, int id) {
  standin::ControlState* c = standin::FindControl(dialog, id);
  return c != nullptr ? c->check : -1;
}
bool ItemEnabled(HWND dialog, int id) {
  standin::ControlState* c = standin::FindControl(dialog, id);
  return c != nullptr && c->enabled;
}
std::string ItemText(HWND dialog, int id) {
  standin::ControlState* c = standin::FindControl(dialog, id);
  return c != nullptr ? ControlText(*c) : std::string();
}
std::vector<std::string> ListEntries(HWND dialog, int id) {
  standin::ControlState* c = standin::FindControl(dialog, id);
  return c != nullptr ? c->items : std::vector<std::string>();
}
int ListSelection(HWND dialog, int id) {
  standin::ControlState* c = standin::FindControl(dialog, id);
  return c != nullptr ? c->selection : -1;
}
int FocusedItem(HWND dialog) {
  standin::DialogState* d = standin::FindDialog(dialog);
  if (d == nullptr || d->focus == nullptr) return 0;
  standin::ControlState* c = standin::FindControlByHandle(d->focus);
  return c != nullptr ? c->source.id : 0;
}

void ResetDialogService() {
  Service& s = State();
  s.script.clear();
  s.stack.clear();
  s.runs.clear();
  s.errors.clear();
  s.ignored.clear();
  s.calls.clear();
  s.failingTemplates.clear();
  standin::ResetDialogWindows();
}

}  // namespace simhost

using simhost::State;

extern "C" std::int32_t HOSTAPI HostRunDialog(std::int32_t resourceId, HostDialogProc proc,
                                              HWND parent, std::int32_t /*one*/,
                                              std::intptr_t userValue, std::int32_t /*version*/) {
  simhost::Service& s = State();
  simhost::DialogRun run;
  run.resourceId = resourceId;
  run.parent = parent;
  run.userValue = userValue;
  // A dialog that cannot be created: -1, as DialogBoxParam answers.
  run.result = -1;
  if (proc == nullptr || s.failingTemplates.contains(resourceId)) {
    s.runs.push_back(run);
    return run.result;
  }
  run.dialog = standin::CreateDialogWindow(resourceId, parent);
  if (run.dialog == nullptr) {
    simhost::Error("no dialog template " + std::to_string(resourceId));
    s.runs.push_back(run);
    return run.result;
  }
  s.runs.push_back(run);
  simhost::Running running;
  running.dialog = run.dialog;
  running.proc = proc;
  running.userValue = userValue;
  running.runIndex = s.runs.size() - 1;
  s.stack.push_back(running);

  // WM_INITDIALOG carries the focus candidate in wParam and the user value in
  // lParam; a nonzero answer gives that control the focus.
  HWND first = simhost::FirstTabStop(run.dialog);
  if (simhost::Deliver(running, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), userValue) != 0) {
    if (standin::DialogState* d = standin::FindDialog(run.dialog)) d->focus = first;
  }
  auto ended = [&]() { return simhost::FindRunning(run.dialog)->ended; };
  while (!ended()) {
    if (s.script.empty()) {
      simhost::Error("script ran out in dialog " + std::to_string(resourceId) +
                     "; ended as Cancel");
      simhost::SendCommand(running, IDCANCEL, BN_CLICKED,
                           standin::ControlHandle(run.dialog, IDCANCEL));
      if (!ended()) simhost::Error("dialog " + std::to_string(resourceId) + " ignored Cancel");
      break;
    }
    simhost::UserAction action = std::move(s.script.front());
    s.script.pop_front();
    simhost::Perform(running, action);
  }
  const std::size_t runIndex = running.runIndex;
  s.runs[runIndex].endedByProcedure = ended();
  s.runs[runIndex].result = 1;
  s.stack.pop_back();
  standin::DestroyDialogWindow(run.dialog);
  return 1;
}

extern "C" void HOSTAPI HostEndDialog(HWND dialog, std::int32_t /*version*/) {
  simhost::Running* r = simhost::FindRunning(dialog);
  if (r == nullptr) {
    simhost::Error("HostEndDialog for a dialog that is not running");
    return;
  }
  r->ended = true;
}

extern "C" void HOSTAPI HostEnableItem(HWND dialog, std::int32_t itemId, std::int32_t enable,
                                       std::int32_t /*version*/) {
  simhost::Record("HostEnableItem", dialog, itemId, 0, enable);
  if (standin::ControlState* c = simhost::CallControl("HostEnableItem", dialog, itemId))
    c->enabled = enable != 0;
}

extern "C" void HOSTAPI HostFocusItem(HWND dialog, std::int32_t itemId, std::int32_t /*version*/) {
  simhost::Record("HostFocusItem", dialog, itemId, 0, 0);
  standin::ControlState* c = simhost::CallControl("HostFocusItem", dialog, itemId);
  standin::DialogState* d = standin::FindDialog(dialog);
  if (c != nullptr && d != nullptr) d->focus = c->handle;
}

extern "C" std::int32_t HOSTAPI HostGetItemValue(HWND dialog, std::int32_t itemId,
                                                 std::int32_t kind, std::int32_t /*version*/) {
  std::int32_t value = 0;
  if (standin::ControlState* c = simhost::CallControl("HostGetItemValue", dialog, itemId)) {
    switch (kind) {
      case ItemKindListSelection:
        value = c->selection + 1;
        break;
      case ItemKindCheck:
        value = c->check;
        break;
      case ItemKindInteger:
        value = simhost::ParseInteger(c->text);
        break;
      default:
        simhost::Error("HostGetItemValue: unknown kind " + std::to_string(kind));
        break;
    }
  }
  simhost::Record("HostGetItemValue", dialog, itemId, kind, value);
  return value;
}

extern "C" void HOSTAPI HostSetItemValue(HWND dialog, std::int32_t itemId, std::int32_t kind,
                                         std::int32_t value, std::int32_t /*version*/) {
  simhost::Record("HostSetItemValue", dialog, itemId, kind, value);
  standin::ControlState* c = simhost::CallControl("HostSetItemValue", dialog, itemId);
  if (c == nullptr) return;
  switch (kind) {
    case ItemKindListSelection: {
      // Like CB_SETCURSEL: an invalid position clears the selection; no
      // CBN_SELCHANGE is sent.
      const std::int64_t index = static_cast<std::int64_t>(value) - 1;
      c->selection = (index >= 0 && index < static_cast<std::int64_t>(c->items.size()))
                         ? static_cast<int>(index)
                         : -1;
      break;
    }
    case ItemKindCheck:
      c->check = value != 0 ? 1 : 0;
      break;
    case ItemKindInteger:
      // Setting text is not bound by the typing limit (as WM_SETTEXT).
      c->text = std::to_string(value);
      break;
    default:
      simhost::Error("HostSetItemValue: unknown kind " + std::to_string(kind));
      break;
  }
}

extern "C" void HOSTAPI HostGetItemText(HWND dialog, std::int32_t itemId, char* buffer,
                                        std::int32_t length, std::int32_t /*version*/) {
  // length counts characters, not the NUL: up to length characters are
  // copied and then terminated, so the buffer holds length + 1 bytes.
  if (buffer == nullptr) return;
  std::string text;
  if (standin::ControlState* c = simhost::CallControl("HostGetItemText", dialog, itemId))
    text = simhost::ControlText(*c);
  const std::size_t limit = length > 0 ? static_cast<std::size_t>(length) : 0;
  const std::size_t n = text.size() < limit ? text.size() : limit;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  simhost::Record("HostGetItemText", dialog, itemId, 0, static_cast<std::int32_t>(n));
}

extern "C" void HOSTAPI HostSetItemText(HWND dialog, std::int32_t itemId, const char* text,
                                        std::int32_t /*version*/) {
  simhost::Record("HostSetItemText", dialog, itemId, 0, 0);
  standin::ControlState* c = simhost::CallControl("HostSetItemText", dialog, itemId);
  if (c != nullptr) c->text = text != nullptr ? text : "";
}
