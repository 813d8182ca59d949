#include "steps/step_context.h"

#include <cstdarg>

#include "host/text_format.h"

namespace kestrin {

void StepContext::AddInfoF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = StringPrintfV(format, args);
  va_end(args);
  AddInfo(text, 1, true);
}

bool StepContext::AllowOverwrite(const std::string& question) {
  if (SilentMode) return ForceOverwrite;
  MessageText = question;
  return AskYesNo(question);
}

}  // namespace kestrin
