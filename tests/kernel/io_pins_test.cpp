#include "kernel/io_pins.hpp"

#include <gtest/gtest.h>

#include "support/world_test.hpp"

using IoPins = WorldTest;

TEST_F(IoPins, PinWritesSetBitsInTheRunningMotesRegisters) {
  vex_state.current_node = 6;
  VEXH_pc_hardware[6] = {};
  VEXH_SET_INT1_PIN();
  VEXH_SET_RFM_CTL1_PIN();
  VEXH_SET_I2C_BUS1_SCL_PIN();
  VEXH_MAKE_I2C_BUS1_SDA_OUTPUT();  // port 0x36 has no register of its own
  EXPECT_EQ(VEXH_pc_hardware[6].register_D, (1 << 1) | (1 << 6));
  EXPECT_EQ(VEXH_pc_hardware[6].register_A, 1 << 4);
  EXPECT_EQ(VEXH_pc_hardware[6].register_default, 1 << 5);
  EXPECT_EQ(VEXH_pc_hardware[5].register_D, 0);
}

TEST_F(IoPins, InputPinsReadOne) {
  EXPECT_EQ(VEXH_READ_I2C_BUS1_SDA_PIN(), 1);
  EXPECT_EQ(inp_emulate(0x12), 0);
  EXPECT_EQ(inp_emulate(0x99), 0xFF);
}

TEST_F(IoPins, HardwareInitSetsEveryStatusRegister) {
  init_hardware(4);
  for (int m = 0; m < 4; ++m) EXPECT_EQ(VEXH_pc_hardware[m].status_register, 0xFF);
  EXPECT_EQ(vex_state.current_node, 3);
  EXPECT_EQ(inp_emulate(0x00), 0xFF);
}

TEST_F(IoPins, HardwareLinesNameBitAndPort) {
  dbg_set(DBG_HARD);
  vex_state.current_node = 1;
  testing::internal::CaptureStdout();
  VEXH_SET_PHOTO_CTL_PIN();
  VEXH_CLR_TEMP_CTL_PIN();
  inp_emulate(0x35);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "1: Set bit 1 of port 67\n1: Clear bit 2 of port 67\n1: inp(53)\n");
}
