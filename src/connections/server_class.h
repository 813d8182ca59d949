// The Telvor server class of the platform Kestrin is built for: on Windows
// the COM server class, elsewhere the file-backed server.
#ifndef KESTRIN_CONNECTIONS_SERVER_CLASS_H_
#define KESTRIN_CONNECTIONS_SERVER_CLASS_H_

#include <memory>

#include "connections/telvor.h"

namespace kestrin {

std::unique_ptr<ITelvorServerClass> MakeTelvorServerClass();

}  // namespace kestrin

#endif  // KESTRIN_CONNECTIONS_SERVER_CLASS_H_
