#include <cstdio>
#include <deque>
#include <set>

#include "platform/standin/standin.h"

namespace {

std::deque<int> scriptedAnswers;
std::vector<standin::MessageBoxCall> calls;
std::vector<UINT> beeps;
std::set<UINT> failingBeeps;
bool autoAnswer = false;
int unexpected = 0;

// What a user dismissing the box would most plausibly press.
int DefaultAnswer(UINT style) { return (style & 0x0F) == MB_YESNO ? IDNO : IDOK; }

}  // namespace

namespace standin {

void ExpectMessageBox(int answer) { scriptedAnswers.push_back(answer); }
void SetAutoAnswer(bool on) { autoAnswer = on; }
const std::vector<MessageBoxCall>& MessageBoxCalls() { return calls; }
int UnexpectedMessageBoxCount() { return unexpected; }
int PendingMessageBoxAnswers() { return static_cast<int>(scriptedAnswers.size()); }
std::vector<UINT> Beeps() { return beeps; }
void FailBeep(UINT type) { failingBeeps.insert(type); }

void ResetMessageBoxes() {
  scriptedAnswers.clear();
  calls.clear();
  beeps.clear();
  failingBeeps.clear();
  autoAnswer = false;
  unexpected = 0;
}

}  // namespace standin

extern "C" int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  standin::MessageBoxCall call;
  call.owner = owner;
  call.text = text != nullptr ? text : "";
  call.caption = caption != nullptr ? caption : "Error";  // Windows' default caption
  call.style = style;
  if (!scriptedAnswers.empty()) {
    call.answer = scriptedAnswers.front();
    call.expected = true;
    scriptedAnswers.pop_front();
  } else {
    call.answer = autoAnswer ? (((style & 0x0F) == MB_YESNO) ? IDYES : IDOK) : DefaultAnswer(style);
    call.expected = autoAnswer;
    if (!autoAnswer) ++unexpected;
  }
  calls.push_back(call);
  return call.answer;
}

extern "C" BOOL MessageBeep(UINT type) {
  if (failingBeeps.contains(type)) return FALSE;
  beeps.push_back(type);
  return TRUE;
}

// Windows documents a 1024-byte limit for wsprintfA's output.
extern "C" int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  int written = std::vsnprintf(buffer, 1024, format, args);
  va_end(args);
  if (written > 1023) written = 1023;
  return written;
}
