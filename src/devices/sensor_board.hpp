#pragma once
// The sensor board's components as the stream system starts and stops them:
// accelerometer, light and temperature, magnetometer and microphone.

#include "devices/accel_m.hpp"
#include "devices/mag_m.hpp"
#include "devices/mic_m.hpp"
#include "devices/photo_temp_m.hpp"
