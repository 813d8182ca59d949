// The overwrite rule shared by the steps that install files and folders: an
// item that exists and whose newest record names another OEM than the
// bundle's needs the user's Yes (interactive) or /f (silent).
#ifndef KESTRIN_STEPS_OVERWRITE_RULE_H_
#define KESTRIN_STEPS_OVERWRITE_RULE_H_

#include <string>
#include <string_view>

#include "steps/step_context.h"

namespace kestrin {

// Call for an item that exists at its destination. true: overwrite it.
// `question` is the step's question, already formatted with the item's name;
// it is asked only in interactive mode and only for another vendor's item.
// Without an installation record every existing item counts as another
// vendor's (OEM ID 0), as a record without an entry for it would. An item
// left alone is noted in context.OwnedItemsLeft.
bool MayOverwrite(StepContext& context, std::string_view record_name,
                  const std::string& question);

}  // namespace kestrin

#endif  // KESTRIN_STEPS_OVERWRITE_RULE_H_
