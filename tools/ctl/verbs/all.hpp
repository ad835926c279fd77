#pragma once
// Every verb of brelo-ctl, one file each in this folder.

#include "ctl/verb.hpp"

namespace brelo_ctl {

Verb watch_verb();
Verb info_verb();
Verb count_verb();
Verb on_verb();
Verb off_verb();
Verb radio_verb();
Verb serial_verb();
Verb link_verb();
Verb adc_verb();
Verb rate_verb();
Verb dbg_verb();
Verb mask_verb();
Verb interrupt_verb();
Verb run_verb();
Verb var_verb();
Verb topology_verb();
Verb view_verb();
Verb sweep_verb();

}  // namespace brelo_ctl
