// The radio's line code and CRC.

#include "radio/sec_ded_encoding.hpp"

#include <gtest/gtest.h>

#include "radio/orla_high_speed_radio_m.hpp"

namespace {
using Code = std::array<uint8_t, 3>;

// The bits of a code word that carry information: P's check bits and the
// even bits of H and L (the others only balance the line).
bool carries_information(int code_bit) {
  int byte = code_bit / 8, bit = code_bit % 8;
  if (byte == 0) return bit == 0 || bit == 1 || bit == 3 || bit == 4 || bit == 6;
  return bit % 2 == 0;
}

SecDedDecoded decode(const Code& c) { return sec_ded_decode(c[0], c[1], c[2]); }

Code flipped(Code c, int code_bit) {
  c[code_bit / 8] ^= static_cast<uint8_t>(1u << (code_bit % 8));
  return c;
}
}  // namespace

TEST(SecDed, KnownCodeWords) {
  EXPECT_EQ(sec_ded_encode(0x00), (Code{0xA4, 0xAA, 0xAA}));
  EXPECT_EQ(sec_ded_encode(0xFF), (Code{0x9B, 0x55, 0x55}));
  EXPECT_EQ(sec_ded_encode(0x55), (Code{0x54, 0x99, 0x99}));
}

TEST(SecDed, EveryByteRoundTripsAndEverySingleBitErrorIsCorrected) {
  for (int value = 0; value < 256; ++value) {
    const uint8_t data = static_cast<uint8_t>(value);
    const Code code = sec_ded_encode(data);
    SecDedDecoded intact = decode(code);
    EXPECT_EQ(intact.data, data);
    EXPECT_EQ(intact.error, SECDED_NO_ERROR);
    for (int bit = 0; bit < 24; ++bit) {
      SecDedDecoded damaged = decode(flipped(code, bit));
      EXPECT_EQ(damaged.data, data) << "byte " << value << ", code bit " << bit;
      bool data_bit = bit >= 8 && carries_information(bit);
      EXPECT_EQ(damaged.error, data_bit ? SECDED_CORRECTED : SECDED_NO_ERROR)
          << "byte " << value << ", code bit " << bit;
    }
  }
}

TEST(SecDed, EveryDoubleErrorInTheCodeWordIsDetected) {
  for (int value = 0; value < 256; value += 17) {
    const Code code = sec_ded_encode(static_cast<uint8_t>(value));
    for (int a = 0; a < 24; ++a) {
      for (int b = a + 1; b < 24; ++b) {
        if (!carries_information(a) || !carries_information(b)) continue;
        EXPECT_EQ(decode(flipped(flipped(code, a), b)).error, SECDED_UNCORRECTABLE)
            << "byte " << value << ", code bits " << a << " and " << b;
      }
    }
  }
}

TEST(RadioCrc, IsTheXmodemCrc16) {
  uint16_t crc = 0;
  for (char c : std::string("abc"))
    crc = OrlaHighSpeedRadioM::add_crc_byte(static_cast<uint8_t>(c), crc);
  EXPECT_EQ(crc, 0x9DD6);
  crc = 0;
  for (char c : std::string("123456789")) {
    crc = OrlaHighSpeedRadioM::add_crc_byte(static_cast<uint8_t>(c), crc);
  }
  EXPECT_EQ(crc, 0x31C3);
}
