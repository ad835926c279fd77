#pragma once
// Counts heap allocations made through the global operator new. Linking
// this library replaces the program's operator new and delete, so a test
// program that uses it is a program of its own.

namespace support {

// Allocations made so far, by any thread.
long allocation_count();

}  // namespace support
