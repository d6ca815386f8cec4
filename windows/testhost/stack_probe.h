// Calling conventions checked where they are real: on 32-bit Windows a
// stdcall callee removes its own arguments, so a caller and a callee that
// disagree (cdecl against stdcall, or another argument size) leave the stack
// pointer moved. Both probes are assembly, so no compiler frame hides a
// difference; they exist on i686 only (64-bit Windows has one convention).
#pragma once

#include <windows.h>

#include <cstdint>
#include <type_traits>

namespace testhost {

// False in a 64-bit build, where nothing is measured.
bool StackProbesAvailable();

struct StackCheck {
  bool called = false;       // a function was there to call
  std::uint32_t result = 0;  // EAX after the call
  // ESP after the call minus ESP before the arguments were pushed: 0 when
  // the callee removed exactly the arguments; -4 per argument for a cdecl callee.
  std::int32_t stackDelta = 0;
  bool registersKept = false;  // EBX, ESI, EDI and EBP as before the call
};

// Pushes count words (32-bit on i686; words[0] last, so it is the first argument),
// calls function and measures. Only where StackProbesAvailable().
StackCheck CallMeasuringStack(const void* function, const std::uintptr_t* words, int count);

// Calls f through its declared type's argument list, one 32-bit word per
// argument (as stdcall passes int16, int32, handles and pointers).
template <typename R, typename... A>
StackCheck CallStdcall(R(WINAPI* f)(A...), std::type_identity_t<A>... args) {
  auto word = [](auto v) -> std::uintptr_t {
    if constexpr (std::is_pointer_v<decltype(v)>) {
      return reinterpret_cast<std::uintptr_t>(v);
    } else {
      static_assert(sizeof(v) <= sizeof(std::uintptr_t), "one machine word per argument");
      return static_cast<std::uintptr_t>(v);
    }
  };
  const std::uintptr_t words[sizeof...(A) + 1] = {word(args)..., 0};
  return CallMeasuringStack(reinterpret_cast<const void*>(f), words,
                            static_cast<int>(sizeof...(A)));
}

// The probe on the host side: the test host exports it at HostLoadRecord's
// ordinal (9). Each call from the plug-in is passed on to HostLoadRecord,
// and when that returns the probe compares ESP with ESP at entry: a 20-byte
// stdcall function must leave it 24 bytes higher (return address and
// arguments), which is where the plug-in's ESP stood before it pushed them.
struct HostCallProbe {
  int calls = 0;
  int mismatches = 0;                    // calls after which ESP was elsewhere
  std::int32_t lastDelta = 0;            // ESP after minus ESP at entry, last call
  std::uintptr_t lastReturnAddress = 0;  // where in the caller the call came from
};
HostCallProbe HostLoadRecordProbe();
void ResetHostLoadRecordProbe();

}  // namespace testhost
