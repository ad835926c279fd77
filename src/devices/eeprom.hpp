#pragma once
// The EEPROM backing store: one file holding every mote's EEPROM, 1 MiB per
// mote, mote m owning bytes m * size to (m + 1) * size - 1. Erased bytes
// read 0xFF. A named store stays between runs and is reused when it already
// has the right size; an anonymous one disappears when the program ends.

#include <cstddef>
#include <cstdint>

constexpr int EEPROM_BYTES_PER_MOTE = 0x100000;

// Creates the store in `file`; returns its descriptor or -1.
int createEEPROM(const char* file, int motes, int bytes_per_mote);
// A store in a fresh temporary file whose name is removed at once: 0 or -1.
int anonymousEEPROM(int motes, int bytes_per_mote);
// A store in the named file, which stays: 0 or -1.
int namedEEPROM(const char* file, int motes, int bytes_per_mote);

// Reads or writes n bytes of a mote's EEPROM at offset; false when out of
// range or when the file refuses.
bool eeprom_read(int mote, std::size_t offset, uint8_t* out, std::size_t n);
bool eeprom_write(int mote, std::size_t offset, const uint8_t* data, std::size_t n);

// Closes the store and forgets it (used by tests).
void eeprom_close();
