#pragma once
// Connects the components of every mote: the one place that knows the whole
// graph. Lower layers reach upward only through what is installed here.

void wire_components();

// The parts of the graph, one per subsystem.
void wire_radio();     // radio stack up to the active-message layer
void wire_sensors();   // sensor board and converter up to the stream system
void wire_channels();  // channel layer and remote streams
void wire_queries();   // the query engine on streams and messages
