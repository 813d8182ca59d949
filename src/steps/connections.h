// The connections step: the connections of the bundle's description are
// created one after the other on the host's connection server.
#ifndef KESTRIN_STEPS_CONNECTIONS_H_
#define KESTRIN_STEPS_CONNECTIONS_H_

#include "steps/steps.h"

namespace kestrin {

// The pause between two connections, in milliseconds.
inline constexpr int kConnectionPause = 1000;

// InstallConnections (steps.h) reads section "CONNECTIONS" of the bundle's
// hw.ini and adds each connection it names through a fresh TelvorClient on
// the host's server class, pausing kConnectionPause between two connections
// that have a key (Machine::Sleep). Result: kDone every connection was added
// (also for a negative count), kFailed at least one failed, kNothingToDo no
// connections.

}  // namespace kestrin

#endif  // KESTRIN_STEPS_CONNECTIONS_H_
