#include "devices/i2c_pot_m.hpp"

#include "devices/i2c_m.hpp"
#include "devices/mic_m.hpp"
#include "kernel/per_mote.hpp"

namespace I2CPotM {
namespace {
PerMote<Vars> pot_m;

// Starts an operation from idle; gives the bus back when it refuses.
result_t begin(uint8_t state, uint8_t addr, uint8_t pot) {
  Vars& v = pot_m();
  if (v.state != IDLE) return FAIL;
  v.addr = addr;
  v.pot = pot;
  v.state = state;
  if (I2CM::I2C_sendStart() == FAIL) {
    v.state = IDLE;
    return FAIL;
  }
  return SUCCESS;
}

uint8_t pot_select(const Vars& v) { return static_cast<uint8_t>((v.pot * 128) & 0x80); }
uint8_t device_command(const Vars& v, uint8_t base) {
  return static_cast<uint8_t>(base + ((v.addr * 2) & 6));
}
}  // namespace

result_t StdControl_init() {
  pot_m().state = IDLE;
  return I2CM::StdControl_init();
}

result_t I2CPot_writePot(uint8_t addr, uint8_t pot, uint8_t data) {
  if (pot_m().state != IDLE) return FAIL;
  pot_m().data = data;
  return begin(WRITE_POT_START, addr, pot);
}

result_t I2CPot_readPot(uint8_t addr, uint8_t pot) { return begin(READ_POT_START, addr, pot); }

result_t I2C_sendStartDone() {
  Vars& v = pot_m();
  if (v.state == WRITE_POT_START) {
    v.state = WRITE_COMMAND;
    return I2CM::I2C_write(device_command(v, 0x58));
  }
  if (v.state == READ_POT_START) {
    v.state = READ_COMMAND;
    return I2CM::I2C_write(device_command(v, 0x59));
  }
  return SUCCESS;
}

result_t I2C_writeDone(bool ok) {
  Vars& v = pot_m();
  if (!ok) {
    v.state = WRITE_FAIL;
    I2CM::I2C_sendEnd();
    return FAIL;
  }
  switch (v.state) {
    case WRITING_TO_POT:
      v.state = WRITE_POT_STOP;
      return I2CM::I2C_sendEnd();
    case WRITE_COMMAND:
      v.state = WRITE_COMMAND_2;
      return I2CM::I2C_write(pot_select(v));
    case WRITE_COMMAND_2:
      v.state = WRITING_TO_POT;
      return I2CM::I2C_write(v.data);
    case READ_COMMAND:
      v.state = READ_POT_READING_DATA;
      return I2CM::I2C_read(pot_select(v) != 0);
    default: return SUCCESS;
  }
}

result_t I2C_readDone(uint8_t data) {
  Vars& v = pot_m();
  if (v.state == IDLE) {
    v.data = 0;
  } else if (v.state == READ_POT_READING_DATA) {
    v.data = data;
    v.state = READ_POT_STOP;
    I2CM::I2C_sendEnd();
  }
  return SUCCESS;
}

result_t I2C_sendEndDone() {
  Vars& v = pot_m();
  switch (v.state) {
    case WRITE_POT_STOP:
      v.state = IDLE;
      return MicM::I2CPot_writePotDone(SUCCESS);
    case READ_POT_STOP:
      v.state = IDLE;
      return MicM::I2CPot_readPotDone(v.data, SUCCESS);
    case READ_FAIL:
      v.state = IDLE;
      return MicM::I2CPot_readPotDone(v.data, FAIL);
    case WRITE_FAIL:
      v.state = IDLE;
      return MicM::I2CPot_writePotDone(FAIL);
    default: return SUCCESS;
  }
}

Vars& vars_of(int mote) { return pot_m.of(mote); }
}  // namespace I2CPotM
