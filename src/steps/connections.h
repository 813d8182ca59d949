// The connections step with its server and its pause made explicit, for
// callers (and tests) that bring their own. InstallConnections(context) in
// steps.h uses the file-backed Telvor and a real one-second pause.
#ifndef KESTRIN_STEPS_CONNECTIONS_H_
#define KESTRIN_STEPS_CONNECTIONS_H_

#include <functional>

#include "connections/telvor.h"
#include "steps/step_context.h"

namespace kestrin {

// The pause between two connections, in milliseconds.
inline constexpr int kConnectionPause = 1000;

// Reads section "CONNECTIONS" of the bundle's hw.ini and adds each connection
// it names through a fresh TelvorClient on `server_class`, calling
// `pause(kConnectionPause)` between two connections that have a key. Result:
// 0 every connection was added (also for a negative count), 1 at least one
// failed, 2 no connections.
int InstallConnections(StepContext& context, ITelvorServerClass& server_class,
                       const std::function<void(int milliseconds)>& pause);

}  // namespace kestrin

#endif  // KESTRIN_STEPS_CONNECTIONS_H_
