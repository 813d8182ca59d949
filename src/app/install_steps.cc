#include "app/install_steps.h"

namespace kestrin {

namespace {

// One row per step, in the order of the table in install_steps.h. Rows are
// added as the steps are built; a step without a row is not run and
// nothing is reported for it.
const std::vector<tInstallStep>& StepTable() {
  static const std::vector<tInstallStep> table = {};
  return table;
}

}  // namespace

std::span<const tInstallStep> InstallationSteps() { return StepTable(); }

}  // namespace kestrin
