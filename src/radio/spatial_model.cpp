#include "radio/spatial_model.hpp"

void create_simple_spatial_model() {}
void spatial_model_init() {}
