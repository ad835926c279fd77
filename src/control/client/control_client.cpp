#include "control/client/control_client.hpp"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "control/wire/socket_io.hpp"

namespace ctl {
namespace {
constexpr milliseconds frame_completion_timeout{5000};

std::string where(uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

ErrorKind kind_of(IoStatus status) {
  switch (status) {
    case IoStatus::ok: return ErrorKind::none;
    case IoStatus::timeout: return ErrorKind::timeout;
    case IoStatus::closed: return ErrorKind::closed;
    case IoStatus::stopped:
    case IoStatus::error: return ErrorKind::io;
  }
  return ErrorKind::io;
}
}  // namespace

Event decode_event(const GuiMsg& header, std::vector<uint8_t> payload) {
  Event event{header, std::move(payload), UnknownEvent{}};
  std::span<const uint8_t> bytes = event.payload;
  switch (header.msgType) {
    case AM_DEBUGMSGEVENT: event.body = DebugMessage{std::string(debug_text(bytes))}; break;
    case AM_RADIOMSGSENTEVENT:
      event.body = RadioMessageSent{from_bytes<RadioMsgSentEvent>(bytes).message};
      break;
    case AM_UARTMSGSENTEVENT:
      event.body = UartMessageSent{from_bytes<UARTMsgSentEvent>(bytes).message};
      break;
    case AM_ADCDATAREADYEVENT: event.body = from_bytes<ADCDataReadyEvent>(bytes); break;
    case AM_VARNIXINITEVENT: event.body = decode_init_event(bytes); break;
    case AM_INTERRUPTEVENT: event.body = from_bytes<InterruptEvent>(bytes); break;
    case AM_LEDEVENT: event.body = from_bytes<LedEvent>(bytes); break;
    default: break;
  }
  return event;
}

VEX_Msg make_message(uint16_t addr, uint8_t type, std::span<const uint8_t> data) {
  VEX_Msg message{};
  message.addr = addr;
  message.type = type;
  std::size_t length = std::min<std::size_t>(data.size(), DATA_LENGTH);
  message.length = static_cast<uint8_t>(length);
  if (length > 0) std::memcpy(message.data, data.data(), length);  // empty data may be null
  return message;
}

// --- Connection ---

Connection::~Connection() { close(); }

Connection::Connection(Connection&& other) noexcept
    : fd_(other.fd_), port_(other.port_), error_(std::move(other.error_)) {
  other.fd_ = -1;
}

Connection& Connection::operator=(Connection&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    port_ = other.port_;
    error_ = std::move(other.error_);
    other.fd_ = -1;
  }
  return *this;
}

void Connection::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void Connection::fail(ErrorKind kind, std::string text) { error_ = {kind, std::move(text)}; }

bool Connection::connect(uint16_t port, milliseconds timeout) {
  close();
  port_ = port;
  error_ = {};
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) {
    fail(ErrorKind::io, std::string("cannot create a socket: ") + std::strerror(errno));
    return false;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int result = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int error = result == 0 ? 0 : errno;
  if (error == EINPROGRESS) {
    pollfd pfd{fd_, POLLOUT, 0};
    int ready;
    do {
      ready = ::poll(&pfd, 1, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) {
      close();
      fail(ErrorKind::timeout, "no answer from " + where(port) + " in time");
      return false;
    }
    socklen_t size = sizeof error;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size);
  }
  if (error != 0) {
    close();
    if (error == ECONNREFUSED) {
      fail(ErrorKind::refused, "nothing is listening on " + where(port));
    } else {
      fail(ErrorKind::io, "cannot connect to " + where(port) + ": " + std::strerror(error));
    }
    return false;
  }
  int on = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return true;
}

bool Connection::write(std::span<const uint8_t> bytes, milliseconds timeout) {
  if (fd_ < 0) {
    fail(ErrorKind::closed, "not connected");
    return false;
  }
  IoStatus status = write_all(fd_, bytes, deadline_after(timeout));
  if (status == IoStatus::ok) return true;
  fail(kind_of(status), std::string("sending to ") + where(port_) + ": " + io_status_text(status));
  return false;
}

bool Connection::read(std::span<uint8_t> bytes, milliseconds timeout) {
  if (fd_ < 0) {
    fail(ErrorKind::closed, "not connected");
    return false;
  }
  IoStatus status = read_exact(fd_, bytes, deadline_after(timeout));
  if (status == IoStatus::ok) return true;
  fail(kind_of(status),
       std::string("reading from ") + where(port_) + ": " + io_status_text(status));
  return false;
}

std::optional<Frame> Connection::read_frame(milliseconds timeout) {
  if (fd_ < 0) {
    fail(ErrorKind::closed, "not connected");
    return std::nullopt;
  }
  // Waiting for a frame to start consumes nothing, so a timeout here leaves
  // the stream intact for the next call.
  IoStatus waited = wait_readable(fd_, deadline_after(timeout));
  if (waited != IoStatus::ok) {
    fail(kind_of(waited),
         std::string("waiting for a frame from ") + where(port_) + ": " + io_status_text(waited));
    return std::nullopt;
  }
  // Once started, a frame must arrive whole without a long pause.
  const milliseconds rest = std::max(timeout, frame_completion_timeout);
  HeaderBytes header_bytes{};
  if (!read(header_bytes, rest)) return std::nullopt;
  Frame frame{decode_header(header_bytes), {}};
  frame.payload.resize(frame.header.payLoadLen);
  if (!read(frame.payload, rest)) return std::nullopt;
  return frame;
}

bool Connection::readable_within(milliseconds wait) {
  if (fd_ < 0) return true;
  return wait_readable(fd_, deadline_after(wait)) == IoStatus::ok;
}

// --- EventClient ---

bool EventClient::connect(uint16_t port, milliseconds timeout) {
  return connection_.connect(port, timeout);
}

std::optional<Event> EventClient::next_unacknowledged(milliseconds timeout) {
  std::optional<Frame> frame = connection_.read_frame(timeout);
  if (!frame) return std::nullopt;
  return decode_event(frame->header, std::move(frame->payload));
}

bool EventClient::acknowledge() {
  const uint8_t ack = 1;
  return connection_.write(std::span(&ack, 1), milliseconds(5000));
}

std::optional<Event> EventClient::next(milliseconds timeout) {
  std::optional<Event> event = next_unacknowledged(timeout);
  if (event && !acknowledge()) return std::nullopt;
  return event;
}

std::optional<Event> EventClient::wait_for(uint16_t type, milliseconds timeout,
                                           std::vector<Event>* skipped) {
  Deadline deadline = deadline_after(timeout);
  for (;;) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - IoClock::now());
    if (left.count() <= 0) {
      connection_.fail(ErrorKind::timeout, "no event of type " + std::to_string(type) + " in time");
      return std::nullopt;
    }
    std::optional<Event> event = next(left);
    if (!event) return std::nullopt;
    if (event->header.msgType == type) return event;
    if (skipped != nullptr) skipped->push_back(std::move(*event));
  }
}

// --- CommandClient ---

bool CommandClient::connect(uint16_t port, milliseconds timeout) {
  in_batch_ = false;
  return connection_.connect(port, timeout);
}

bool CommandClient::send_raw(std::span<const uint8_t> bytes) {
  return connection_.write(bytes, timeout_);
}

bool CommandClient::read_ack(milliseconds timeout) {
  uint8_t ack = 0;
  return connection_.read(std::span(&ack, 1), timeout);
}

bool CommandClient::send(uint16_t type, uint16_t mote, int64_t time,
                         std::span<const uint8_t> payload) {
  if (!send_raw(build_frame(type, mote, time, payload))) return false;
  return in_batch_ || read_ack(timeout_);
}

std::optional<Frame> CommandClient::send_for_reply(uint16_t type, uint16_t mote, int64_t time,
                                                   std::span<const uint8_t> payload) {
  if (!send(type, mote, time, payload) || in_batch_) return std::nullopt;
  std::optional<Frame> reply = connection_.read_frame(timeout_);
  if (!reply) return std::nullopt;
  const uint8_t ack = 1;
  if (!connection_.write(std::span(&ack, 1), timeout_)) return std::nullopt;
  return reply;
}

bool CommandClient::turn_on(uint16_t mote, int64_t time) {
  return send(AM_TURNONMOTECOMMAND, mote, time);
}

bool CommandClient::turn_off(uint16_t mote, int64_t time) {
  return send(AM_TURNOFFMOTECOMMAND, mote, time);
}

bool CommandClient::inject_radio(uint16_t mote, const VEX_Msg& message, int64_t time) {
  return send(AM_RADIOMSGSENDCOMMAND, mote, time, to_bytes(RadioMsgSendCommand{message}));
}

bool CommandClient::inject_uart(uint16_t mote, const VEX_Msg& message, int64_t time) {
  return send(AM_UARTMSGSENDCOMMAND, mote, time, to_bytes(UARTMsgSendCommand{message}));
}

bool CommandClient::interrupt(uint32_t id, int64_t time, uint16_t mote) {
  return send(AM_INTERRUPTCOMMAND, mote, time, to_bytes(InterruptCommand{id}));
}

bool CommandClient::set_link_probability(uint16_t from, uint16_t to, double probability) {
  SetLinkProbCommand command{};
  command.moteReceiver = to;
  command.scaledProb =
      static_cast<uint32_t>(std::lround(std::clamp(probability, 0.0, 1.0) * 10000.0));
  return send(AM_SETLINKPROBCOMMAND, from, 0, to_bytes(command));
}

bool CommandClient::set_adc_value(uint16_t mote, uint8_t port, uint16_t value) {
  SetADCPortValueCommand command{};
  command.port = port;
  command.value = value;
  return send(AM_SETADCPORTVALUECOMMAND, mote, 0, to_bytes(command));
}

bool CommandClient::set_rate(double factor) {
  double thousandths = std::clamp(factor * 1000.0, 0.0, 4294967295.0);
  return send(AM_SETRATECOMMAND, 0, 0,
              to_bytes(SetRateCommand{static_cast<uint32_t>(std::llround(thousandths))}));
}

bool CommandClient::set_dbg(int64_t modes) {
  return send(AM_SETDBGCOMMAND, 0, 0, to_bytes(SetDBGCommand{modes}));
}

bool CommandClient::set_event_mask(uint16_t mask) {
  return send(AM_SETEVENTMASKCOMMAND, 0, 0, to_bytes(SetEventMaskCommand{mask}));
}

bool CommandClient::begin_batch() {
  // The simulator does not acknowledge the command that opens a batch.
  if (!send_raw(build_frame(AM_BEGINBATCHCOMMAND, 0, 0, {}))) return false;
  in_batch_ = true;
  return true;
}

bool CommandClient::end_batch() {
  in_batch_ = false;
  return send(AM_ENDBATCHCOMMAND, 0, 0);
}

std::optional<MoteCount> CommandClient::get_mote_count() {
  std::optional<Frame> reply =
      send_for_reply(AM_GETMOTECOUNTCOMMAND, 0, 0, to_bytes(GetMoteCountCommand{0}));
  if (!reply) return std::nullopt;
  if (reply->header.msgType != AM_GETMOTECOUNTRESPONSE) {
    connection_.fail(ErrorKind::protocol,
                     "unexpected reply type " + std::to_string(reply->header.msgType));
    return std::nullopt;
  }
  auto response = from_bytes<GetMoteCountResponse>(reply->payload);
  MoteCount count;
  count.totalMotes = response.totalMotes;
  count.time = reply->header.time;
  count.present.resize(protocol::MAX_MOTES);
  for (int mote = 0; mote < protocol::MAX_MOTES; ++mote) count.present[mote] = mote_bit(response, mote);
  return count;
}

std::optional<VariableResolveResponse> CommandClient::resolve(uint16_t mote,
                                                              const std::string& name) {
  VariableResolveCommand command{};
  std::memcpy(command.name, name.data(), std::min(name.size(), sizeof command.name - 1));
  std::optional<Frame> reply =
      send_for_reply(AM_VARIABLERESOLVECOMMAND, mote, 0, to_bytes(command));
  if (!reply) return std::nullopt;
  if (reply->header.msgType != AM_VARIABLERESOLVERESPONSE) {
    connection_.fail(ErrorKind::protocol,
                     "unexpected reply type " + std::to_string(reply->header.msgType));
    return std::nullopt;
  }
  return from_bytes<VariableResolveResponse>(reply->payload);
}

std::optional<VariableRequestResponse> CommandClient::request(uint32_t addr, uint8_t length) {
  VariableRequestCommand command{};
  command.addr = addr;
  command.length = length;
  std::optional<Frame> reply = send_for_reply(AM_VARIABLEREQUESTCOMMAND, 0, 0, to_bytes(command));
  if (!reply) return std::nullopt;
  if (reply->header.msgType != AM_VARIABLEREQUESTRESPONSE) {
    connection_.fail(ErrorKind::protocol,
                     "unexpected reply type " + std::to_string(reply->header.msgType));
    return std::nullopt;
  }
  auto response = from_bytes<VariableRequestResponse>(reply->payload);
  if (response.length == 0) {
    connection_.fail(ErrorKind::unserved,
                     "the simulator could not read the variable now (its simulation thread "
                     "did not get to the read in time); nothing was read, try again");
    return std::nullopt;
  }
  return response;
}

}  // namespace ctl
