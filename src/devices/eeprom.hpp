#pragma once
// The EEPROM backing store, 1 MiB per mote, created once at start-up.

constexpr int EEPROM_BYTES_PER_MOTE = 0x100000;

// With a file name the store lives in that file, otherwise in an anonymous
// one. Returns 0, or -1 when the store could not be created.
int eeprom_create(const char* file_or_null, int motes, int bytes_per_mote);
