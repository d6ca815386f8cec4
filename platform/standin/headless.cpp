#include "platform/headless.h"

#include "platform/standin/standin.h"

namespace headless {

void StartSession() {
  standin::ResetAll();
  standin::SetAutoAnswer(true);
}

HWND NewWindow() { return standin::NewWindow(); }

void SetBinaryValue(const std::string& keyPath, const std::string& name,
                    const std::vector<std::uint8_t>& bytes) {
  standin::SetRegistryValue(keyPath, name, REG_BINARY, bytes);
}

std::optional<std::vector<std::uint8_t>> BinaryValue(const std::string& keyPath,
                                                     const std::string& name) {
  std::vector<std::uint8_t> bytes;
  DWORD type = 0;
  if (!standin::GetRegistryValue(keyPath, name, &type, &bytes)) return std::nullopt;
  return bytes;
}

void SetKeyDown(int virtualKey, bool down) { standin::SetKeyDown(virtualKey, down); }

std::vector<MessageBoxRecord> MessageBoxes() {
  std::vector<MessageBoxRecord> boxes;
  for (const standin::MessageBoxCall& call : standin::MessageBoxCalls()) {
    boxes.push_back({call.caption, call.text, call.style, call.answer});
  }
  return boxes;
}

}  // namespace headless
