// The cabinet builder now lives in tests/support (shared with the bundle tests).
#include "support/cab_builder.h"
