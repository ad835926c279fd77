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
constexpr uint64_t DBG_ERROR_BIT = static_cast<uint64_t>(DBG_ERROR);

inline constexpr VEX_dbg_mode_names dbg_nametab[] = {
    {"all", ~0ULL},
    {"boot", DBG_BOOT | DBG_ERROR_BIT},
    {"clock", DBG_CLOCK | DBG_ERROR_BIT},
    {"task", DBG_TASK | DBG_ERROR_BIT},
    {"sched", DBG_SCHED | DBG_ERROR_BIT},
    {"sensor", DBG_SENSOR | DBG_ERROR_BIT},
    {"led", DBG_LED | DBG_ERROR_BIT},
    {"crypto", DBG_CRYPTO | DBG_ERROR_BIT},
    {"route", DBG_ROUTE | DBG_ERROR_BIT},
    {"am", DBG_AM | DBG_ERROR_BIT},
    {"crc", DBG_CRC | DBG_ERROR_BIT},
    {"packet", DBG_PACKET | DBG_ERROR_BIT},
    {"encode", DBG_ENCODE | DBG_ERROR_BIT},
    {"radio", DBG_RADIO | DBG_ERROR_BIT},
    {"logger", DBG_LOG | DBG_ERROR_BIT},
    {"adc", DBG_ADC | DBG_ERROR_BIT},
    {"i2c", DBG_I2C | DBG_ERROR_BIT},
    {"uart", DBG_UART | DBG_ERROR_BIT},
    {"prog", DBG_PROG | DBG_ERROR_BIT},
    {"sounder", DBG_SOUNDER | DBG_ERROR_BIT},
    {"time", DBG_TIME | DBG_ERROR_BIT},
    {"power", DBG_POWER | DBG_ERROR_BIT},
    {"sim", DBG_SIM | DBG_ERROR_BIT},
    {"queue", DBG_QUEUE | DBG_ERROR_BIT},
    {"simradio", DBG_SIMRADIO | DBG_ERROR_BIT},
    {"hardware", DBG_HARD | DBG_ERROR_BIT},
    {"simmem", DBG_MEM | DBG_ERROR_BIT},
    {"usr1", DBG_USR1 | DBG_ERROR_BIT},
    {"usr2", DBG_USR2 | DBG_ERROR_BIT},
    {"usr3", DBG_USR3 | DBG_ERROR_BIT},
    {"temp", DBG_TEMP | DBG_ERROR_BIT},
    {"error", DBG_ERROR_BIT},
    {"none", 0},
    {nullptr, 0},
};
