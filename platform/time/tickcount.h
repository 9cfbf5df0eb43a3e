// The system's millisecond tick count.
#pragma once

#include <cstdint>

// Milliseconds since an unspecified moment (the system's start), on a 32-bit counter that wraps
// to 0 about every 49.7 days. Only differences taken modulo 2^32 are meaningful.
uint32_t GetTickCount();
