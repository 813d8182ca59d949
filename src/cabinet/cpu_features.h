// Whether the processor has BMI2, asked once by the decoders that carry a
// loop compiled for it. One cpuid leaf answers that; the compiler's
// __builtin_cpu_supports would link in the run-time library's survey of the
// whole processor, a dozen cpuid calls (slow under a hypervisor) at every
// start of every program.
#pragma once

#if defined(__GNUC__) && defined(__x86_64__)
#include <cpuid.h>

namespace kestrin {

inline bool CpuHasBmi2() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0 && (ebx & bit_BMI2) != 0;
}

}  // namespace kestrin
#endif
