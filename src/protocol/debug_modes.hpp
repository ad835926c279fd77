#pragma once
// Debug modes: the bit of each kind of debug line, and the names by which
// the DBG variable, the command line and control clients select them. Every
// mode except all, error and none also turns on error.

#include <cstdint>

using VEX_dbg_mode = int64_t;

constexpr VEX_dbg_mode DBG_NONE = 0;
constexpr VEX_dbg_mode DBG_BOOT = 1LL << 0;
constexpr VEX_dbg_mode DBG_CLOCK = 1LL << 1;
constexpr VEX_dbg_mode DBG_TASK = 1LL << 2;
constexpr VEX_dbg_mode DBG_SCHED = 1LL << 3;
constexpr VEX_dbg_mode DBG_SENSOR = 1LL << 4;
constexpr VEX_dbg_mode DBG_LED = 1LL << 5;
constexpr VEX_dbg_mode DBG_CRYPTO = 1LL << 6;
constexpr VEX_dbg_mode DBG_ROUTE = 1LL << 7;
constexpr VEX_dbg_mode DBG_AM = 1LL << 8;
constexpr VEX_dbg_mode DBG_CRC = 1LL << 9;
constexpr VEX_dbg_mode DBG_PACKET = 1LL << 10;
constexpr VEX_dbg_mode DBG_ENCODE = 1LL << 11;
constexpr VEX_dbg_mode DBG_RADIO = 1LL << 12;
constexpr VEX_dbg_mode DBG_LOG = 1LL << 13;
constexpr VEX_dbg_mode DBG_ADC = 1LL << 14;
constexpr VEX_dbg_mode DBG_I2C = 1LL << 15;
constexpr VEX_dbg_mode DBG_UART = 1LL << 16;
constexpr VEX_dbg_mode DBG_PROG = 1LL << 17;
constexpr VEX_dbg_mode DBG_SOUNDER = 1LL << 18;
constexpr VEX_dbg_mode DBG_TIME = 1LL << 19;
constexpr VEX_dbg_mode DBG_POWER = 1LL << 20;
constexpr VEX_dbg_mode DBG_SIM = 1LL << 21;
constexpr VEX_dbg_mode DBG_QUEUE = 1LL << 22;
constexpr VEX_dbg_mode DBG_SIMRADIO = 1LL << 23;
constexpr VEX_dbg_mode DBG_HARD = 1LL << 24;
constexpr VEX_dbg_mode DBG_MEM = 1LL << 25;
// bit 26 has no name
constexpr VEX_dbg_mode DBG_USR1 = 1LL << 27;
constexpr VEX_dbg_mode DBG_USR2 = 1LL << 28;
constexpr VEX_dbg_mode DBG_USR3 = 1LL << 29;
constexpr VEX_dbg_mode DBG_TEMP = 1LL << 30;
constexpr VEX_dbg_mode DBG_ERROR = 1LL << 31;
constexpr VEX_dbg_mode DBG_ALL = ~0LL;
constexpr VEX_dbg_mode DBG_DEFAULT = DBG_ALL;

// One entry of the table of mode names; the table ends with d_name == nullptr.
struct VEX_dbg_mode_names {
  const char* d_name;
  uint64_t d_mode;
};

namespace protocol {
// Every named mode but all, error and none also selects the error lines.
constexpr uint64_t with_errors = static_cast<uint64_t>(DBG_ERROR);
}  // namespace protocol

inline constexpr VEX_dbg_mode_names dbg_nametab[] = {
    {"all", ~0ULL},
    {"boot", DBG_BOOT | protocol::with_errors},
    {"clock", DBG_CLOCK | protocol::with_errors},
    {"task", DBG_TASK | protocol::with_errors},
    {"sched", DBG_SCHED | protocol::with_errors},
    {"sensor", DBG_SENSOR | protocol::with_errors},
    {"led", DBG_LED | protocol::with_errors},
    {"crypto", DBG_CRYPTO | protocol::with_errors},
    {"route", DBG_ROUTE | protocol::with_errors},
    {"am", DBG_AM | protocol::with_errors},
    {"crc", DBG_CRC | protocol::with_errors},
    {"packet", DBG_PACKET | protocol::with_errors},
    {"encode", DBG_ENCODE | protocol::with_errors},
    {"radio", DBG_RADIO | protocol::with_errors},
    {"logger", DBG_LOG | protocol::with_errors},
    {"adc", DBG_ADC | protocol::with_errors},
    {"i2c", DBG_I2C | protocol::with_errors},
    {"uart", DBG_UART | protocol::with_errors},
    {"prog", DBG_PROG | protocol::with_errors},
    {"sounder", DBG_SOUNDER | protocol::with_errors},
    {"time", DBG_TIME | protocol::with_errors},
    {"power", DBG_POWER | protocol::with_errors},
    {"sim", DBG_SIM | protocol::with_errors},
    {"queue", DBG_QUEUE | protocol::with_errors},
    {"simradio", DBG_SIMRADIO | protocol::with_errors},
    {"hardware", DBG_HARD | protocol::with_errors},
    {"simmem", DBG_MEM | protocol::with_errors},
    {"usr1", DBG_USR1 | protocol::with_errors},
    {"usr2", DBG_USR2 | protocol::with_errors},
    {"usr3", DBG_USR3 | protocol::with_errors},
    {"temp", DBG_TEMP | protocol::with_errors},
    {"error", protocol::with_errors},
    {"none", 0},
    {nullptr, 0},
};
