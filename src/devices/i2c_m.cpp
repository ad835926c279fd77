#include "devices/i2c_m.hpp"

#include "devices/i2c_pot_m.hpp"
#include "kernel/atomic.hpp"
#include "kernel/io_pins.hpp"
#include "kernel/per_mote.hpp"
#include "kernel/scheduler.hpp"

namespace I2CM {
namespace {
PerMote<Vars> i2c;

void clock_pulse() {
  VEXH_SET_I2C_BUS1_SCL_PIN();
  VEXH_CLR_I2C_BUS1_SCL_PIN();
}

uint8_t read_bit() {
  VEXH_MAKE_I2C_BUS1_SDA_INPUT();
  VEXH_SET_I2C_BUS1_SCL_PIN();
  uint8_t bit = VEXH_READ_I2C_BUS1_SDA_PIN();
  VEXH_CLR_I2C_BUS1_SCL_PIN();
  return bit;
}

void bus_start() {
  VEXH_SET_I2C_BUS1_SDA_PIN();
  VEXH_SET_I2C_BUS1_SCL_PIN();
  VEXH_MAKE_I2C_BUS1_SDA_OUTPUT();
  VEXH_CLR_I2C_BUS1_SDA_PIN();
  VEXH_CLR_I2C_BUS1_SCL_PIN();
}

void bus_end() {
  VEXH_MAKE_I2C_BUS1_SDA_OUTPUT();
  VEXH_CLR_I2C_BUS1_SDA_PIN();
  VEXH_SET_I2C_BUS1_SCL_PIN();
  VEXH_SET_I2C_BUS1_SDA_PIN();
}

// Clocks a byte out, most significant bit first; true when acknowledged.
bool bus_write(uint8_t data) {
  VEXH_MAKE_I2C_BUS1_SDA_OUTPUT();
  for (int i = 7; i >= 0; --i) {
    if ((data >> i) & 1) {
      VEXH_SET_I2C_BUS1_SDA_PIN();
    } else {
      VEXH_CLR_I2C_BUS1_SDA_PIN();
    }
    clock_pulse();
  }
  return read_bit() == 0;
}

uint8_t bus_read() {
  uint8_t data = 0;
  for (int i = 0; i < 8; ++i) data = static_cast<uint8_t>((data << 1) | read_bit());
  return data;
}

void bus_acknowledge(bool ack) {
  VEXH_MAKE_I2C_BUS1_SDA_OUTPUT();
  if (ack) {
    VEXH_CLR_I2C_BUS1_SDA_PIN();
  } else {
    VEXH_SET_I2C_BUS1_SDA_PIN();
  }
  clock_pulse();
}

void I2C_task() {
  Vars& v = i2c();
  uint8_t atomic = __quil_atomic_start();
  const uint8_t request = v.state;
  v.state = 0;
  __quil_atomic_end(atomic);
  switch (request) {
    case SEND_START:
      bus_start();
      I2CPotM::I2C_sendStartDone();
      break;
    case SEND_END:
      bus_end();
      I2CPotM::I2C_sendEndDone();
      break;
    case WRITE_DATA: I2CPotM::I2C_writeDone(bus_write(v.local_data)); break;
    case READ_DATA:
    case READ_DATA + READ_ACK: {
      uint8_t data = bus_read();
      I2CPotM::I2C_readDone(data);
      bus_acknowledge(request == READ_DATA + READ_ACK);
      break;
    }
    default: break;
  }
}

// Takes a request when the bus is free. A request the task ring cannot take
// is given back, so that the bus is not left busy for good.
result_t submit(uint8_t request) {
  Vars& v = i2c();
  uint8_t atomic = __quil_atomic_start();
  bool busy = v.state != 0;
  if (!busy) v.state = request;
  __quil_atomic_end(atomic);
  if (busy) return FAIL;
  if (VEX_post(I2C_task) == SUCCESS) return SUCCESS;
  v.state = 0;
  return FAIL;
}
}  // namespace

result_t StdControl_init() {
  VEXH_SET_I2C_BUS1_SCL_PIN();
  VEXH_SET_I2C_BUS1_SDA_PIN();
  VEXH_MAKE_I2C_BUS1_SCL_OUTPUT();
  VEXH_MAKE_I2C_BUS1_SDA_OUTPUT();
  i2c().state = 0;
  return SUCCESS;
}

result_t I2C_sendStart() { return submit(SEND_START); }
result_t I2C_sendEnd() { return submit(SEND_END); }
result_t I2C_read(bool ack) { return submit(ack ? READ_DATA + READ_ACK : READ_DATA); }
result_t I2C_write(uint8_t data) {
  Vars& v = i2c();
  if (v.state != 0) return FAIL;
  v.local_data = data;
  return submit(WRITE_DATA);
}

Vars& vars_of(int mote) { return i2c.of(mote); }
}  // namespace I2CM
