// HostRunDialog is DialogBoxParam on the plug-in's resource; the plug-in's
// dialog procedure (with its extra user value) runs behind a standard DLGPROC.
// Item values and texts go through the real controls.
#include "windows/testhost/dialog_service.h"

// commctrl.h needs windows.h before it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include "host/host.h"
#include "simhost/item_integer.h"

namespace {

HMODULE pluginModule = nullptr;
int badCalls = 0;

struct DialogContext {
  HostDialogProc proc;
  std::intptr_t userValue;
};

bool Checked(std::int32_t version, HWND dialog = nullptr, bool needDialog = false) {
  const bool ok = version == HostInterfaceVersion && (!needDialog || IsWindow(dialog));
  if (!ok) ++badCalls;
  return ok;
}

INT_PTR CALLBACK ForwardingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
  }
  auto* context = reinterpret_cast<DialogContext*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (context == nullptr) return FALSE;  // messages before WM_INITDIALOG
  return context->proc(dialog, message, wParam, lParam, context->userValue);
}

}  // namespace

namespace testhost {

void SetPluginModule(HMODULE module) { pluginModule = module; }
int DialogServiceBadCalls() { return badCalls; }

}  // namespace testhost

extern "C" {

std::int32_t HOSTAPI HostRunDialog(std::int32_t resourceId, HostDialogProc proc, HWND parent,
                                   std::int32_t one, std::intptr_t userValue,
                                   std::int32_t version) {
  if (!Checked(version) || one != 1 || proc == nullptr) {
    if (one != 1 || proc == nullptr) ++badCalls;
    return 0;
  }
  DialogContext context{proc, userValue};
  return static_cast<std::int32_t>(DialogBoxParamA(pluginModule, MAKEINTRESOURCEA(resourceId),
                                                   parent, ForwardingProc,
                                                   reinterpret_cast<LPARAM>(&context)));
}

void HOSTAPI HostEndDialog(HWND dialog, std::int32_t version) {
  if (Checked(version, dialog, true)) EndDialog(dialog, 1);
}

void HOSTAPI HostEnableItem(HWND dialog, std::int32_t itemId, std::int32_t enable,
                            std::int32_t version) {
  if (Checked(version, dialog, true)) EnableWindow(GetDlgItem(dialog, itemId), enable != 0);
}

void HOSTAPI HostFocusItem(HWND dialog, std::int32_t itemId, std::int32_t version) {
  if (!Checked(version, dialog, true)) return;
  // The dialog manager's way of moving the focus (also selects an edit's text).
  SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, itemId)), TRUE);
}

std::int32_t HOSTAPI HostGetItemValue(HWND dialog, std::int32_t itemId, std::int32_t kind,
                                      std::int32_t version) {
  if (!Checked(version, dialog, true)) return 0;
  switch (kind) {
    case ItemKindListSelection:
      return static_cast<std::int32_t>(SendDlgItemMessageA(dialog, itemId, CB_GETCURSEL, 0, 0)) + 1;
    case ItemKindCheck:
      return IsDlgButtonChecked(dialog, itemId) == BST_CHECKED ? 1 : 0;
    case ItemKindInteger: {
      char text[64] = {};
      GetDlgItemTextA(dialog, itemId, text, sizeof text);
      return simhost::ParseInteger(text);
    }
    default:
      ++badCalls;
      return 0;
  }
}

void HOSTAPI HostSetItemValue(HWND dialog, std::int32_t itemId, std::int32_t kind,
                              std::int32_t value, std::int32_t version) {
  if (!Checked(version, dialog, true)) return;
  switch (kind) {
    case ItemKindListSelection:
      SendDlgItemMessageA(dialog, itemId, CB_SETCURSEL, static_cast<WPARAM>(value - 1), 0);
      break;
    case ItemKindCheck:
      CheckDlgButton(dialog, itemId, value != 0 ? BST_CHECKED : BST_UNCHECKED);
      break;
    case ItemKindInteger:
      SetDlgItemInt(dialog, itemId, static_cast<UINT>(value), TRUE);
      break;
    default:
      ++badCalls;
      break;
  }
}

// length counts characters without the terminating NUL: the buffer holds length + 1.
void HOSTAPI HostGetItemText(HWND dialog, std::int32_t itemId, char* buffer, std::int32_t length,
                             std::int32_t version) {
  if (buffer == nullptr || length < 0) {
    ++badCalls;
    return;
  }
  buffer[0] = '\0';
  if (Checked(version, dialog, true)) GetDlgItemTextA(dialog, itemId, buffer, length + 1);
}

void HOSTAPI HostSetItemText(HWND dialog, std::int32_t itemId, const char* text,
                             std::int32_t version) {
  if (Checked(version, dialog, true)) SetDlgItemTextA(dialog, itemId, text != nullptr ? text : "");
}
}
