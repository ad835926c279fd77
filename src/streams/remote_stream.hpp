#pragma once
// Remote streams: records written on one or more source motes, read on one
// destination mote, carried by the channel layer one channel per source.
//
// open_r opens the destination side when `dest` is the mote itself and the
// source side otherwise; the two sides meet by the stream's symbolic name.
// The destination keeps received records in a ring read like a local
// stream. A source sends each record once, when it is written; opened with
// reliability 1 it also keeps copies of the last records it wrote.
// Closing a source frees its entry and name at once, even before its open
// has completed; the channel layer sends the CLOSE after whatever it still
// has to send, so the destination stops counting the source.
//
// Open completions (openRemoteDone) are queued per mote and each is
// signalled exactly once, from a task, in the order they were recorded.

#include <array>
#include <cstdint>

#include "kernel/vex_types.hpp"
#include "net/msg_net.hpp"
#include "net/msg_ss.hpp"
#include "streams/stream_types.hpp"

namespace SSToAppM {
// One open completion waiting for its task.
struct OpenCompletion {
  stream_type stream_desc;
  uint8_t symbolic_name;
  result_t success;
};

constexpr int OPEN_COMPLETIONS = 16;  // completions one mote can have waiting

// Per-mote variables of the remote streams, zeroed when the mote boots.
struct RemoteVars {
  MsgSS packet;  // the source side builds its messages here
  // The completion recorded last, kept for inspection.
  stream_type openRemoteDone_stream_desc;
  uint8_t openRemoteDone_symbolic_name;
  result_t openRemoteDone_success;
  // Completions not yet signalled, oldest at `completions_head`.
  std::array<OpenCompletion, OPEN_COMPLETIONS> completions;
  uint8_t completions_head;
  uint8_t completions_count;
  bool completion_task_posted;
};
RemoteVars& remote_vars();  // the running mote's
RemoteVars& remote_vars_of(int mote);

// The channel layer's events, installed by the application wiring.
result_t NetToSS_connectDone(channel_type channel_id, MsgSSPtr msg, result_t success);
MsgSSPtr NetToSS_receive(channel_type channel_id, MsgSSPtr m);

// Signals the oldest waiting open completion.
void signalOpenDoneTask();
}  // namespace SSToAppM
