#pragma once
// The command topics' payloads, read as Home Assistant (or a person with an MQTT
// client) sends them. Each refuses with one line saying what is wrong and what
// would be right; nothing refused reaches the plug-in.
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bridge/kinds.h"
#include "host/host_events.h"

namespace varnel::bridge {

// Longer payloads are refused before they are looked at.
inline constexpr std::size_t kMaxPayload = 4096;

CommandResult variableCommand(const Entity& e, std::string_view payload, const LightState* light);
CommandResult switchCommand(const Entity& e, std::string_view payload, const LightState* light);
CommandResult lightCommand(const Entity& e, std::string_view payload, const LightState* light);
CommandResult x10SwitchCommand(const Entity& e, std::string_view payload, const LightState* light);
CommandResult buttonCommand(const Entity& e, std::string_view payload, const LightState* light);
CommandResult screenCommand(const Entity& e, std::string_view payload, const LightState* light);
CommandResult screenWriteCommand(const Entity& e, std::string_view payload, const LightState* light);
CommandResult x10SendCommand(const Entity& e, std::string_view payload, const LightState* light);
CommandResult irPlayCommand(const Entity& e, std::string_view payload, const LightState* light);

// The lights (by code, "A1") that an X10 event heard on the line changes, and their
// new state. `lights` are the codes of the X10 lights there are.
std::vector<std::pair<std::string, LightState>> heardX10(const host::HostEvent& e,
                                                         const std::vector<std::string>& lights,
                                                         const std::map<std::string, LightState>& now);

// The lights (by code) an X10 command sent from the console line changes, and their
// new state: what the same command heard does, and a dim or bright by its percentage.
std::vector<std::pair<std::string, LightState>> sentX10(const console::cmd::X10& x,
                                                        const std::vector<std::string>& lights,
                                                        const std::map<std::string, LightState>& now);

}  // namespace varnel::bridge
