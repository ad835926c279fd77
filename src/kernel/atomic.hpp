#pragma once
// Atomic-section brackets and the idle hook. All component code runs on the
// simulation thread and no simulated interrupt preempts it, so they do
// nothing; they stay in the code to mark interrupt-sensitive sections.

#include <cstdint>

inline uint8_t __quil_atomic_start() { return 0; }
inline void __quil_atomic_end(uint8_t) {}
inline void __quil_atomic_sleep() {}
