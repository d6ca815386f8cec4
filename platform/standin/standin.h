// Test controls of the Linux stand-in for the Win32 calls the plug-in makes.
// Message boxes are recorded and answered from a script.
#pragma once

#include <string>
#include <vector>

#include "platform/win32.h"

namespace standin {

struct MessageBoxCall {
  HWND owner = nullptr;
  std::string text;
  std::string caption;
  UINT style = 0;
  int answer = 0;
  bool expected = false;  // an answer had been scripted for it
};

// Queues the answer of the next message box.
void ExpectMessageBox(int answer);
// Boxes without a scripted answer get this answer and count as unexpected,
// unless auto-answering is on (the command-line tool answers every box).
void SetAutoAnswer(bool on);
const std::vector<MessageBoxCall>& MessageBoxCalls();
int UnexpectedMessageBoxCount();
int PendingMessageBoxAnswers();
std::vector<UINT> Beeps();
// Makes MessageBeep(type) fail for this type.
void FailBeep(UINT type);

// Forgets every recorded call and script.
void ResetMessageBoxes();

}  // namespace standin
