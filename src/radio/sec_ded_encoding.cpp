#include "radio/sec_ded_encoding.hpp"

#include "kernel/dbg.hpp"
#include "kernel/per_mote.hpp"
#include "radio/orla_high_speed_radio_m.hpp"

namespace {
// The check bits each data bit d0 ... d7 sets in P.
constexpr std::array<uint8_t, 8> parity_column = {0x5B, 0x58, 0x52, 0x51, 0x4A, 0x49, 0x13, 0x0B};

// The syndrome contributed by each bit of the 13-bit code word: five check
// bits, then the data bits d0 ... d7.
constexpr std::array<uint8_t, 13> syndrome_of_bit = {0x01, 0x02, 0x04, 0x08, 0x10, 0x1F, 0x1C,
                                                     0x1A, 0x19, 0x16, 0x15, 0x0B, 0x07};

// Four data bits as bit pairs: 01 for a 1, 10 for a 0.
uint8_t pairs(unsigned nibble) {
  uint8_t out = 0;
  for (int k = 0; k < 4; ++k)
    out |= static_cast<uint8_t>(((nibble >> k) & 1) ? 1u << (2 * k) : 2u << (2 * k));
  return out;
}

// The even bits of a pair byte.
unsigned unpair(uint8_t code) {
  unsigned nibble = 0;
  for (int k = 0; k < 4; ++k) nibble |= ((code >> (2 * k)) & 1u) << k;
  return nibble;
}

PerMote<SecDedEncoding::Vars> sec_ded;
}  // namespace

std::array<uint8_t, 3> sec_ded_encode(uint8_t data) {
  uint8_t p = 0;
  for (int k = 0; k < 8; ++k) {
    if ((data >> k) & 1) p ^= parity_column[k];
  }
  if ((p & 0x40) == 0) p |= 0x80;
  if ((p & 0x50) == 0) p |= 0x20;
  if ((p & 0x0A) == 0) p |= 0x04;
  return {p, pairs(data >> 4), pairs(data & 0x0F)};
}

SecDedDecoded sec_ded_decode(uint8_t p, uint8_t h, uint8_t l) {
  const unsigned data = unpair(l) | (unpair(h) << 4);
  const unsigned check =
      (p & 0x01) | (p & 0x02) | ((p >> 1) & 0x04) | ((p >> 1) & 0x08) | ((p >> 2) & 0x10);
  unsigned word = (data << 5) | check;
  unsigned syndrome = 0;
  for (int bit = 0; bit < 13; ++bit) {
    if ((word >> bit) & 1) syndrome ^= syndrome_of_bit[bit];
  }
  int8_t error = SECDED_UNCORRECTABLE;
  if (syndrome == 0) {
    error = SECDED_NO_ERROR;
  } else {
    for (int bit = 0; bit < 13; ++bit) {
      if (syndrome_of_bit[bit] != syndrome) continue;
      word ^= 1u << bit;
      error = bit < 5 ? SECDED_NO_ERROR : SECDED_CORRECTED;
      break;
    }
  }
  return {static_cast<uint8_t>(word >> 5), error};
}

namespace SecDedEncoding {
Vars& vars() { return sec_ded(); }
Vars& vars_of(int mote) { return sec_ded.of(mote); }

result_t Code_encode(uint8_t data) {
  Vars& v = vars();
  if (v.state != IDLE_STATE) return FAIL;
  v.state = ENCODING_BYTE;
  const std::array<uint8_t, 3> code = sec_ded_encode(data);
  v.state = IDLE_STATE;
  for (uint8_t byte : code) OrlaHighSpeedRadioM::Code_encodeDone(byte);
  return SUCCESS;
}

result_t Code_encode_flush() { return SUCCESS; }

result_t Code_decode(uint8_t code_byte) {
  Vars& v = vars();
  switch (v.state) {
    case IDLE_STATE:
      v.data1 = code_byte;
      v.state = DECODING_BYTE_3;
      return SUCCESS;
    case DECODING_BYTE_3:
      v.data2 = code_byte;
      v.state = DECODING_BYTE_2;
      return SUCCESS;
    case DECODING_BYTE_2: {
      v.data3 = code_byte;
      v.state = DECODING_BYTE_1;
      const SecDedDecoded decoded = sec_ded_decode(v.data1, v.data2, v.data3);
      dbg(DBG_ENCODE, "Decoded 0x%x to 0x%hhx with error %i\n",
          static_cast<unsigned>((v.data1 << 16) | (v.data2 << 8) | v.data3), decoded.data,
          decoded.error);
      v.state = IDLE_STATE;
      OrlaHighSpeedRadioM::Code_decodeDone(decoded.data, decoded.error);
      return SUCCESS;
    }
    default:
      return FAIL;
  }
}
}  // namespace SecDedEncoding
