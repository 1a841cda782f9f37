#pragma once
// Clock readings in the forms the log rules take.
#include <cstdint>

#include "common/core/LogRules.h"

namespace kav {

// The local date and time now.
TDateTimeParts ReadLocalTime();

// Milliseconds since 1601-01-01 UTC now (the FILETIME clock).
int64_t ReadUtcMilliseconds();

} // namespace kav
