#include "ctl/simulation_check.hpp"

#include <string>
#include <variant>

#include "protocol/radio_models.hpp"

namespace brelo_ctl {

bool motes_exist(Commands& commands, std::span<const uint16_t> motes) {
  auto count = commands.client().get_mote_count();
  if (!count) {
    commands.failed();
    return false;
  }
  const int total = count->totalMotes;
  std::string missing;
  int how_many = 0;
  for (uint16_t mote : motes) {
    if (mote < total) continue;
    missing += (how_many++ == 0 ? "" : ", ") + std::to_string(mote);
  }
  if (how_many == 0) return true;
  std::string has = total == 1 ? "1 mote (0)"
                               : std::to_string(total) + " motes (0 to " + std::to_string(total - 1) + ")";
  return commands.refuse("the simulation has " + has +
                         (how_many == 1 ? ": there is no mote " : ": there are no motes ") +
                         missing);
}

bool uses_lossy_radio(Commands& commands) {
  const Invocation& call = commands.call();
  ctl::EventClient events;
  std::optional<ctl::Event> init;
  if (events.connect(call.event_port(), call.timeout)) init = events.next(call.timeout);
  if (!init) {
    return commands.end_with(connection_failure(call, events.error(), call.event_port()));
  }
  events.close();
  const auto* body = std::get_if<ctl::VarnixInitEvent>(&init->body);
  if (body == nullptr) {
    *call.err << program << ": the simulator's first event was not its initial event\n";
    return commands.end_with(EXIT_CONNECTION);
  }
  if (body->radioModel == protocol::RADIO_MODEL_LOSSY) return true;
  return commands.refuse(std::string("link settings act only under the lossy radio model, and this "
                                     "simulation runs the ") +
                         protocol::radio_model_name(body->radioModel) +
                         " model (start brelo with -r=lossy or -rf=FILE)");
}

}  // namespace brelo_ctl
