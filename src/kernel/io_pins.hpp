#pragma once
// Emulated I/O pins of the mote's microcontroller. Pin writes set bits in a
// per-mote register image; every input pin reads 1.

#include <array>
#include <cstdint>

#include "kernel/vex_types.hpp"

struct VEXH_pc_hardware_t {
  uint8_t status_register = 0;  // port 0x00
  uint8_t register_A = 0;       // port 0x34
  uint8_t register_B = 0;       // port 0x37
  uint8_t register_C = 0;       // port 0x40
  uint8_t register_D = 0;       // port 0x43
  uint8_t register_E = 0;       // port 0x70
  uint8_t register_default = 0; // any other port
};
// Kernel hardware state: kept across reboots, unlike component variables.
extern std::array<VEXH_pc_hardware_t, VEXNODES> VEXH_pc_hardware;

void set_io_bit(uint8_t port, uint8_t bit);
void clear_io_bit(uint8_t port, uint8_t bit);
uint8_t inp_emulate(uint8_t port);

// Sets the status register of every mote to 0xFF; leaves the last mote current.
void init_hardware(int num_nodes);

// Pin operations, named after the pin: set and make-output set the bit,
// clear and make-input clear it.
#define VEXH_PIN_WRITE(name, port, bit)                       \
  inline void VEXH_SET_##name##_PIN() { set_io_bit(port, bit); } \
  inline void VEXH_CLR_##name##_PIN() { clear_io_bit(port, bit); }
#define VEXH_PIN_DIRECTION(name, port, bit)                         \
  inline void VEXH_MAKE_##name##_OUTPUT() { set_io_bit(port, bit); } \
  inline void VEXH_MAKE_##name##_INPUT() { clear_io_bit(port, bit); }

VEXH_PIN_WRITE(INT1, 0x43, 1)
VEXH_PIN_DIRECTION(INT1, 0x45, 1)
VEXH_PIN_WRITE(INT2, 0x43, 2)
VEXH_PIN_DIRECTION(INT2, 0x45, 2)
inline void VEXH_MAKE_INT3_INPUT() { clear_io_bit(0x45, 3); }
VEXH_PIN_WRITE(RFM_CTL0, 0x43, 7)
inline void VEXH_SET_RFM_CTL1_PIN() { set_io_bit(0x43, 6); }
inline void VEXH_CLR_RFM_TXD_PIN() { clear_io_bit(0x37, 3); }
inline void VEXH_MAKE_RFM_TXD_INPUT() { clear_io_bit(0x39, 3); }
VEXH_PIN_WRITE(I2C_BUS1_SCL, 0x34, 4)
inline void VEXH_MAKE_I2C_BUS1_SCL_OUTPUT() { set_io_bit(0x36, 4); }
VEXH_PIN_WRITE(I2C_BUS1_SDA, 0x34, 5)
VEXH_PIN_DIRECTION(I2C_BUS1_SDA, 0x36, 5)
inline uint8_t VEXH_READ_I2C_BUS1_SDA_PIN() { return (inp_emulate(0x35) >> 5) & 1; }
VEXH_PIN_WRITE(PW3, 0x40, 3)
VEXH_PIN_WRITE(PW4, 0x40, 4)
VEXH_PIN_WRITE(PW6, 0x40, 6)

// The same pins under the names of what they drive.
inline void VEXH_SET_PHOTO_CTL_PIN() { VEXH_SET_INT1_PIN(); }
inline void VEXH_CLR_PHOTO_CTL_PIN() { VEXH_CLR_INT1_PIN(); }
inline void VEXH_MAKE_PHOTO_CTL_OUTPUT() { VEXH_MAKE_INT1_OUTPUT(); }
inline void VEXH_MAKE_PHOTO_CTL_INPUT() { VEXH_MAKE_INT1_INPUT(); }
inline void VEXH_SET_TEMP_CTL_PIN() { VEXH_SET_INT2_PIN(); }
inline void VEXH_CLR_TEMP_CTL_PIN() { VEXH_CLR_INT2_PIN(); }
inline void VEXH_MAKE_TEMP_CTL_OUTPUT() { VEXH_MAKE_INT2_OUTPUT(); }
inline void VEXH_MAKE_TEMP_CTL_INPUT() { VEXH_MAKE_INT2_INPUT(); }
inline void VEXH_MAKE_TONE_DECODE_SIGNAL_INPUT() { VEXH_MAKE_INT3_INPUT(); }
inline void VEXH_SET_MIC_CTL_PIN() { VEXH_SET_PW3_PIN(); }
inline void VEXH_CLR_MIC_CTL_PIN() { VEXH_CLR_PW3_PIN(); }
inline void VEXH_MAKE_MIC_CTL_OUTPUT() {}
inline void VEXH_SET_ACCEL_CTL_PIN() { VEXH_SET_PW4_PIN(); }
inline void VEXH_CLR_ACCEL_CTL_PIN() { VEXH_CLR_PW4_PIN(); }
inline void VEXH_MAKE_ACCEL_CTL_OUTPUT() {}
inline void VEXH_SET_MIC_MUX_SEL_PIN() { VEXH_SET_PW6_PIN(); }
inline void VEXH_CLR_MIC_MUX_SEL_PIN() { VEXH_CLR_PW6_PIN(); }
inline void VEXH_MAKE_MIC_MUX_SEL_OUTPUT() {}

#undef VEXH_PIN_WRITE
#undef VEXH_PIN_DIRECTION
