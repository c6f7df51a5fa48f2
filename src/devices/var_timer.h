#pragma once
// The variable timer: polls the controller's variables, passes every change of
// a mirrored variable to its host device, asks the I/O timer for a point
// check, keeps its interval equal to the poll interval, and once in the
// plug-in's life, in the hour after 1 a.m., has the controller's clock set.
#include <string>

#include "devices/device_state.h"

namespace varnel {

void Timer2_Timer(DeviceLayer& ctx);

// The poll_interval setting as timer milliseconds: a number 1..65535 (blanks
// around it allowed, a fraction cut off); anything else is the default, 500.
int pollIntervalMs(const std::string& text);

}  // namespace varnel
