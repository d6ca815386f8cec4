// The test host: the simulated host as a Windows program. It exports the 17
// host functions by ordinal (like the real host executable), loads the
// plug-in with LoadLibrary, calls its entry points by name and runs the
// scenarios against real Win32: registry, dialogs from the plug-in's own
// resources, message boxes, the keyboard hook.
//   host.exe PLUGIN [--screenshot DIR]
// Prints one line per scenario and per failed check; exit status 0 when all
// checks passed.
#include <cstdio>
#include <cstring>
#include <string>

#include "windows/testhost/harness.h"
#include "windows/testhost/scenarios.h"

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc < 2) {
    std::printf("usage: %s PLUGIN [--screenshot DIR]\n", argv[0]);
    return 2;
  }
  std::string screenshotDir;
  for (int i = 2; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--screenshot") == 0) screenshotDir = argv[i + 1];
  }
  testhost::StartHost(argv[1], screenshotDir);

  testhost::FirstRunAndTermination();
  testhost::OversizedValuesIgnored();
  testhost::InvocationOverSmallScore();
  testhost::StdcallStackPointer();
  testhost::OptionsDialogStatesAndRules();
  testhost::PresetsThroughTheComboBox();
  testhost::CtrlT();
  testhost::RetryTimerEndsWithTheLibrary();
  testhost::DialogPositionRemembered();
  testhost::ApplyQuestion();
  testhost::LongPresetName();
  testhost::PlatformBehaviours();

  return testhost::FinishHost();
}
