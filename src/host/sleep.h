// Waiting: the one place where the run pauses on purpose.
#ifndef KESTRIN_HOST_SLEEP_H_
#define KESTRIN_HOST_SLEEP_H_

namespace kestrin {

// Blocks the calling thread for at least `milliseconds` (nothing for 0 or
// less). A signal that interrupts the wait does not shorten it.
void SleepMilliseconds(int milliseconds);

}  // namespace kestrin

#endif  // KESTRIN_HOST_SLEEP_H_
