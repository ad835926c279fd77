#include "app/wiring.hpp"

#include "net/am_promiscuous.hpp"
#include "query/pellund_m.hpp"
#include "streams/ss_to_app.hpp"

// The query engine takes operator messages (type 8 from the host, type 9 as
// forwarded by mote 0), hears the completions of its forwards (type 9) and
// serial results (type 15), and is the stream system's application.
void wire_queries() {
  AMPromiscuous::set_receive_handler(AM_OPERATORMSG, PellundM::ReceiveMsgSerial_receive);
  AMPromiscuous::set_receive_handler(AM_RADIOMSG, PellundM::ReceiveMsgRadio_receive);
  AMPromiscuous::set_send_done_handler(AM_RADIOMSG, PellundM::SendMsgRadio_sendDone);
  AMPromiscuous::set_send_done_handler(AM_MSGUART, PellundM::SendMsgSerial_sendDone);
  SSToAppM::set_application({PellundM::SSToApp_readDone, PellundM::SSToApp_openRemoteDone});
}
