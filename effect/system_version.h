// Which Windows the effect runs on, for the few calls that differ by system.
#pragma once
#include <cstdint>

// The NT family's major version (4 for NT 4.0, 5 for 2000 and XP, 6 from
// Vista on, 10), or 0 on the 9x family.
uint32_t NtMajorVersion();
