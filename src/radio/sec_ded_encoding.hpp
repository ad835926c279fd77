#pragma once
// SecDedEncoding: the radio's line code. Every data byte goes on the air as
// three code bytes P, H, L: H and L carry the high and low four data bits as
// bit pairs (01 for a 1, 10 for a 0, so each half is balanced), P carries
// five check bits and three balancing bits. The code corrects any single bit
// error and detects two.
//
// encode() hands the three code bytes to the radio at once (encodeDone, in
// the order P, H, L); decode() collects them one at a time and signals
// decodeDone with the data byte after the third.

#include <array>
#include <cstdint>

#include "kernel/vex_types.hpp"

// The outcome of decoding one code word.
constexpr int8_t SECDED_NO_ERROR = -1;      // the word was intact
constexpr int8_t SECDED_CORRECTED = 0;      // one data bit was wrong and has been fixed
constexpr int8_t SECDED_UNCORRECTABLE = 1;  // two or more bits were wrong

// The code word of a data byte: P, H, L.
std::array<uint8_t, 3> sec_ded_encode(uint8_t data);

struct SecDedDecoded {
  uint8_t data;
  int8_t error;  // SECDED_NO_ERROR, SECDED_CORRECTED or SECDED_UNCORRECTABLE
};
SecDedDecoded sec_ded_decode(uint8_t p, uint8_t h, uint8_t l);

namespace SecDedEncoding {
// state counts the code bytes collected while decoding.
enum : uint8_t {
  IDLE_STATE = 0,
  DECODING_BYTE_3 = 1,
  DECODING_BYTE_2 = 2,
  DECODING_BYTE_1 = 3,
  ENCODING_BYTE = 4
};

struct Vars {
  uint8_t state;
  uint8_t data1;  // P
  uint8_t data2;  // H
  uint8_t data3;  // L
};

// FAIL while a code word is being collected.
result_t Code_encode(uint8_t data);
result_t Code_encode_flush();
// FAIL while encoding.
result_t Code_decode(uint8_t code_byte);

Vars& vars();
Vars& vars_of(int mote);
}  // namespace SecDedEncoding
