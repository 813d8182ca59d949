#ifndef KESTRIN_CTL_EXIT_CODES_H_
#define KESTRIN_CTL_EXIT_CODES_H_

// kestrinctl's exit statuses, for deployment tools that act on them. The
// values are documented in kestrinctl(1) and never change meaning. When
// several outcomes apply to one run, the one earliest in kPrecedence is the
// status (a failed step outweighs a skipped item, which outweighs a restart).

namespace kestrin::ctl {

enum class CtlExit : int {
  kOk = 0,
  kStepFailed = 1,          // a step of an installation failed
  kUsage = 2,               // the command line is wrong
  kDamagedBundle = 3,       // a bundle could not be read or is not a bundle
  kVersionRefused = 4,      // the version gate refused a bundle
  kOwnedItemsLeft = 5,      // items left alone because another vendor owns them
  kSignatureRefused = 6,    // a bundle's signature was refused
  kDrift = 8,               // verify: the installation differs from its bundles
  kNotRestored = 9,         // uninstall or rollback: items could not be put back
  kConflicts = 10,          // rollback refused: later runs changed the same items
  kNoKorvane = 11,          // no usable Korvane installation was found
  kRestartRequired = 3010,  // as msiexec says it; see RestartRequiredStatus()
};

// Earliest first: the status of a run where several outcomes apply.
inline constexpr CtlExit kPrecedence[] = {
    CtlExit::kUsage,          CtlExit::kNoKorvane,      CtlExit::kStepFailed,
    CtlExit::kDamagedBundle,  CtlExit::kSignatureRefused, CtlExit::kVersionRefused,
    CtlExit::kConflicts,      CtlExit::kNotRestored,    CtlExit::kDrift,
    CtlExit::kOwnedItemsLeft, CtlExit::kRestartRequired, CtlExit::kOk,
};

// The outcome of `a` and `b` together.
inline CtlExit Worse(CtlExit a, CtlExit b) {
  for (CtlExit e : kPrecedence) {
    if (e == a || e == b) return e;
  }
  return a;
}

// The number a process exits with. A restart is 3010 on Windows, as
// msiexec gives it; POSIX exit statuses stop at 255, so it is 12 there.
int ExitNumber(CtlExit exit);

}  // namespace kestrin::ctl

#endif  // KESTRIN_CTL_EXIT_CODES_H_
