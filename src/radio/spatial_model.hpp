#pragma once
// Positions of the motes; nothing asks for them, but they are drawn at start-up.

void create_simple_spatial_model();
void spatial_model_init();
