#include "app/wiring.hpp"
#include "net/am_promiscuous.hpp"
#include "net/net_to_ssm.hpp"
#include "streams/remote_stream.hpp"

// The channel layer takes every channel message (type AM_NETMSG) of the
// active-message layer and hands what arrives on its channels up to the
// remote streams.
void wire_channels() {
  AMPromiscuous::set_receive_handler(AM_NETMSG, NetToSSM::ReceiveMsg_receive);
  AMPromiscuous::set_send_done_handler(AM_NETMSG, NetToSSM::SendMsg_sendDone);
  NetToSSM::set_user({SSToAppM::NetToSS_connectDone, SSToAppM::NetToSS_receive});
}
