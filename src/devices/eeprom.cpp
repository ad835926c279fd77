#include "devices/eeprom.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "kernel/dbg.hpp"
#include "kernel/world.hpp"

namespace {
std::string local_filename;
int numMotes = 0;
int moteSize = 0;
bool initialized = false;
int local_fd = -1;
// An anonymous store keeps every byte inverted, so that the file can stay
// sparse: never-written bytes are holes reading 0, which is erased 0xFF.
// At 1000 motes that saves writing a gigabyte at every start.
bool inverted = false;

// Fills the store with erased bytes unless the file already holds a store of
// this size (its byte just past the store is not 0), so a named store
// survives from run to run. The fill runs one block past the store.
void fill_if_new(int fd, off_t total, std::size_t block_size) {
  uint8_t probe = 0;
  if (lseek(fd, total, SEEK_SET) < 0 || read(fd, &probe, 1) < 0) {
    dbg(DBG_ERROR, "ERROR: Unable to establish EEPROM of correct size.\n");
    probe = 0;
  }
  if (probe != 0) return;
  if (lseek(fd, 0, SEEK_SET) < 0) {
    dbg(DBG_ERROR, "ERROR: Unable to establish EEPROM of correct size.\n");
    return;
  }
  std::vector<uint8_t> erased(block_size, 0xFF);
  for (off_t written = 0; written <= total; written += static_cast<off_t>(block_size)) {
    if (write(fd, erased.data(), erased.size()) != static_cast<ssize_t>(erased.size())) {
      dbg(DBG_ERROR, "ERROR: Unable to establish EEPROM of correct size.\n");
      return;
    }
  }
}

int create_store(const char* file, int fd, int motes, int bytes_per_mote, bool anonymous) {
  local_filename = file;
  numMotes = motes;
  moteSize = bytes_per_mote;
  if (initialized) {
    dbg(DBG_ERROR, "ERROR: Trying to initialize EEPROM twice.\n");
    if (fd >= 0 && fd != local_fd) close(fd);
    return -1;
  }
  if (fd < 0) fd = open(file, O_RDWR | O_CREAT, 0744);
  if (fd < 0) {
    dbg(DBG_ERROR, "ERROR: Unable to create EEPROM backing store file.\n");
    return -1;
  }
  off_t total = static_cast<off_t>(motes) * bytes_per_mote;
  if (anonymous) {
    if (ftruncate(fd, total) < 0) dbg(DBG_ERROR, "ERROR: Unable to establish EEPROM of correct size.\n");
  } else {
    fill_if_new(fd, total, 1024);
  }
  inverted = anonymous;
  initialized = true;
  local_fd = fd;
  return fd;
}
}  // namespace

int createEEPROM(const char* file, int motes, int bytes_per_mote) {
  return create_store(file, -1, motes, bytes_per_mote, false);
}

int anonymousEEPROM(int motes, int bytes_per_mote) {
  // A unique name, so that simultaneous runs never share a store.
  char name[] = "/tmp/anonymousXXXXXX";
  int fd = mkstemp(name);
  int result = fd < 0 ? -1 : create_store(name, fd, motes, bytes_per_mote, true);
  if (fd >= 0) unlink(name);
  if (result < 0) {
    dbg(DBG_ERROR, "ERROR: Unable to create anonymous EEPROM region.\n");
    return -1;
  }
  return 0;
}

int namedEEPROM(const char* file, int motes, int bytes_per_mote) {
  if (createEEPROM(file, motes, bytes_per_mote) < 0) {
    dbg(DBG_ERROR, "ERROR: Unable to create named EEPROM region: %s.\n", file);
    return -1;
  }
  return 0;
}

namespace {
// Where n bytes at offset of a mote's EEPROM lie in the file, or -1.
off_t locate(int mote, std::size_t offset, std::size_t n) {
  if (!initialized || mote < 0 || mote >= numMotes) return -1;
  if (offset > static_cast<std::size_t>(moteSize) || n > moteSize - offset) return -1;
  return static_cast<off_t>(mote) * moteSize + static_cast<off_t>(offset);
}
}  // namespace

bool eeprom_read(int mote, std::size_t offset, uint8_t* out, std::size_t n) {
  off_t at = locate(mote, offset, n);
  if (at < 0 || pread(local_fd, out, n, at) != static_cast<ssize_t>(n)) return false;
  if (inverted) {
    for (std::size_t i = 0; i < n; ++i) out[i] ^= 0xFF;
  }
  return true;
}

bool eeprom_write(int mote, std::size_t offset, const uint8_t* data, std::size_t n) {
  off_t at = locate(mote, offset, n);
  if (at < 0) return false;
  std::vector<uint8_t> bytes(data, data + n);
  if (inverted) {
    for (uint8_t& b : bytes) b ^= 0xFF;
  }
  return pwrite(local_fd, bytes.data(), n, at) == static_cast<ssize_t>(n);
}

void eeprom_close() {
  if (local_fd >= 0) close(local_fd);
  local_fd = -1;
  initialized = false;
  inverted = false;
}

namespace {
const WorldReset close_store{[] {
  eeprom_close();
  local_filename.clear();
  numMotes = 0;
  moteSize = 0;
}};
}  // namespace
