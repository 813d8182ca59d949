// Whether the processor has BMI2 (and LZCNT), asked once by the decoders
// that carry a loop compiled for it. One cpuid leaf answers each; the
// compiler's __builtin_cpu_supports would link in the run-time library's
// survey of the whole processor, a dozen cpuid calls (slow under a
// hypervisor) at every start of every program. Built with KESTRIN_NO_BMI2
// defined, the answer is no: the plain loops can be tested on any machine.
#pragma once

#if defined(__GNUC__) && defined(__x86_64__)
#include <cpuid.h>

namespace kestrin {

inline bool CpuHasBmi2() {
#ifdef KESTRIN_NO_BMI2
  return false;
#else
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0 && (ebx & bit_BMI2) != 0;
#endif
}

inline bool CpuHasLzcnt() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  return __get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_LZCNT) != 0;
}

}  // namespace kestrin
#endif
