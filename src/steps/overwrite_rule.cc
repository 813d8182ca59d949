#include "steps/overwrite_rule.h"

namespace kestrin {

bool MayOverwrite(StepContext& context, std::string_view record_name,
                  const std::string& question) {
  const int previous = context.InstallationRecord != nullptr
                           ? context.InstallationRecord->GetLatestOemId(record_name)
                           : 0;
  if (previous == context.OemId || context.AllowOverwrite(question)) return true;
  context.OwnedItemsLeft.emplace_back(record_name);
  return false;
}

}  // namespace kestrin
