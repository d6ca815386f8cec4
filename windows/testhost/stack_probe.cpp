#include "windows/testhost/stack_probe.h"

#if defined(__i386__)

// Both probes keep their state in static words: the calls they measure are
// not nested and come from one thread.
asm(R"(
    .data
    .balign 4
kqSavedEsp:     .long 0
kqSavedEbp:     .long 0
kqProbeEntry:   .long 0
    .globl _kqProbeReturn
_kqProbeReturn: .long 0
    .globl _kqProbeCalls
_kqProbeCalls:  .long 0
    .globl _kqProbeMismatches
_kqProbeMismatches: .long 0
    .globl _kqProbeLastDelta
_kqProbeLastDelta: .long 0

    .text
    .globl _KqCallMeasuringStack
    .def _KqCallMeasuringStack; .scl 2; .type 32; .endef
# cdecl: (function, words, count, outcome[2])
_KqCallMeasuringStack:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl %esp, kqSavedEsp
    movl %ebp, kqSavedEbp
    movl 16(%ebp), %ecx
    movl 12(%ebp), %edx
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%edx,%ecx,4)
    jmp 1b
2:  movl 8(%ebp), %eax
    movl $0x5EB10C01, %ebx
    movl $0x5EB10C02, %esi
    movl $0x5EB10C03, %edi
    call *%eax
    movl %esp, %ecx
    subl kqSavedEsp, %ecx
    xorl %edx, %edx
    cmpl $0x5EB10C01, %ebx
    jne 3f
    cmpl $0x5EB10C02, %esi
    jne 3f
    cmpl $0x5EB10C03, %edi
    jne 3f
    cmpl kqSavedEbp, %ebp
    jne 3f
    movl $1, %edx
3:  movl kqSavedEsp, %esp
    movl kqSavedEbp, %ebp
    movl 20(%ebp), %ebx
    movl %ecx, (%ebx)
    movl %edx, 4(%ebx)
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret

    .globl _KqHostLoadRecordProbe
    .def _KqHostLoadRecordProbe; .scl 2; .type 32; .endef
# Exported at ordinal 9: the plug-in's HostLoadRecord (stdcall, 20 bytes).
_KqHostLoadRecordProbe:
    movl (%esp), %eax
    movl %eax, _kqProbeReturn
    movl %esp, kqProbeEntry
    movl $4f, (%esp)
    jmp _HostLoadRecord@20
# HostLoadRecord returns here; EAX holds its result, ECX and EDX are free.
4:  movl %esp, %ecx
    subl kqProbeEntry, %ecx
    movl %ecx, _kqProbeLastDelta
    incl _kqProbeCalls
    cmpl $24, %ecx
    je 5f
    incl _kqProbeMismatches
5:  jmp *_kqProbeReturn
)");

extern "C" {
// Returns the callee's EAX, which the probe leaves alone after the call.
std::uint32_t KqCallMeasuringStack(const void* function, const std::uintptr_t* words, int count,
                                   std::int32_t* outcome);
extern std::uintptr_t kqProbeReturn;
extern int kqProbeCalls;
extern int kqProbeMismatches;
extern std::int32_t kqProbeLastDelta;
}

namespace testhost {

bool StackProbesAvailable() { return true; }

StackCheck CallMeasuringStack(const void* function, const std::uintptr_t* words, int count) {
  std::int32_t outcome[2] = {0, 0};
  StackCheck check;
  if (function == nullptr) return check;  // called stays false
  check.called = true;
  check.result = KqCallMeasuringStack(function, words, count, outcome);
  check.stackDelta = outcome[0];
  check.registersKept = outcome[1] != 0;
  return check;
}

HostCallProbe HostLoadRecordProbe() {
  HostCallProbe probe;
  probe.calls = kqProbeCalls;
  probe.mismatches = kqProbeMismatches;
  probe.lastDelta = kqProbeLastDelta;
  probe.lastReturnAddress = kqProbeReturn;
  return probe;
}

void ResetHostLoadRecordProbe() {
  kqProbeCalls = 0;
  kqProbeMismatches = 0;
  kqProbeLastDelta = 0;
  kqProbeReturn = 0;
}

}  // namespace testhost

#else

namespace testhost {

bool StackProbesAvailable() { return false; }
StackCheck CallMeasuringStack(const void*, const std::uintptr_t*, int) { return {}; }
HostCallProbe HostLoadRecordProbe() { return {}; }
void ResetHostLoadRecordProbe() {}

}  // namespace testhost

#endif
