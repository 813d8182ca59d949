#include "steps/overwrite_rule.h"

namespace kestrin {

bool MayOverwrite(StepContext& context, std::string_view record_name,
                  const std::string& question) {
  const int previous = context.InstallationRecord != nullptr
                           ? context.InstallationRecord->GetLatestOemId(record_name)
                           : 0;
  if (previous == context.OemId) return true;
  if (context.SilentMode) return context.ForceOverwrite;
  return context.AskYesNo(question);
}

}  // namespace kestrin
