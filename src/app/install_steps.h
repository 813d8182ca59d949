// The installation steps of a bundle, in the order a run executes them.
//
// Each row names one step: how to call it, where the progress bar stands
// after it, what the run reports for its result and whether a result counts
// for the run's summary error line:
//
//   order  step                     bar  summary on
//    1     hardware definitions      25  1
//    2     driver libraries          30  1
//    3     help pages                40  1
//    4     print forms               45  -
//    5     samples                   50  1
//    6     libraries                 65  1
//    7     templates (recovery flag) 70  1
//    8     connections               75  1
//    9     OPC pane                  79  1
//   10     registry settings         82  -
//   11     custom tools              85  -
//   12     TCP/IP timeout            90  -
//   13     visible file extensions   93  1
//   14     post commands             97  false
#ifndef KESTRIN_APP_INSTALL_STEPS_H_
#define KESTRIN_APP_INSTALL_STEPS_H_

#include <span>
#include <vector>

namespace kestrin {

class StepContext;

// A line the run reports for one result of a step.
struct tStepMessage {
  int result;
  const char* text;
  bool log;  // false: information list only
};

inline constexpr int kNoSummaryResult = -1000;

struct tInstallStep {
  const char* name;  // for diagnostics and tests
  int bar;           // progress position after the step (interactive mode)
  // Runs the step on the context. `recover_templates` is the run's recovery
  // flag; only the templates step uses it. A step whose result is a boolean
  // answers 1 for true and 0 for false.
  int (*run)(StepContext& context, bool recover_templates);
  int success_result;        // the result that means done (0; 1 for a boolean step)
  const char* success_text;  // reported, with the log, for success_result
  std::vector<tStepMessage> other_results;
  int summary_result;        // result that calls for the summary error line, or kNoSummaryResult
};

// The steps that exist, in their order.
std::span<const tInstallStep> InstallationSteps();

}  // namespace kestrin

#endif  // KESTRIN_APP_INSTALL_STEPS_H_
