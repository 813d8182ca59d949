// Registration of driver libraries: as a COM server through the library's
// own entry point, or as a .NET assembly through the framework's regasm.
#ifndef KESTRIN_STEPS_DRIVER_LIBRARIES_H_
#define KESTRIN_STEPS_DRIVER_LIBRARIES_H_

#include <string>

#include "steps/step_context.h"

namespace kestrin {

// The regasm command line for a library: the framework root, "\v", the
// loader version, "\regasm.exe /silent ", the library path unquoted and a
// final blank.
std::string RegasmCommandLine(const std::string& root, const std::string& version,
                              const std::string& library);

// Starts regasm for the library without waiting for it and reports, in the
// information list only, whether it started. Result 1 when it started.
int RegisterAssembly(StepContext& context, const std::string& library);

}  // namespace kestrin

#endif  // KESTRIN_STEPS_DRIVER_LIBRARIES_H_
