#pragma once
// Pieces of the console shared by its source files; not for other users.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "console/command.h"
#include "console/console.h"
#include "host/embedded_host.h"
#include "plugin/hspi.h"

namespace varnel::console::detail {

struct Env {
    HSPI& plugin;
    EmbeddedHost& host;
    DeviceLayer& ctx;
    const std::vector<std::string>& statusLines;
    const std::function<Reply(const cmd::History&)>& history;
};

inline Reply done(std::vector<std::string> lines) { return {Reply::Outcome::Done, std::move(lines)}; }
inline Reply done(std::string line) { return done(std::vector<std::string>{std::move(line)}); }
inline Reply refused(std::string line) { return {Reply::Outcome::Error, {std::move(line)}}; }

// Text from the host or the files, safe to print: escaped, and a long text is cut.
std::string printable(std::string_view text, std::size_t maxChars = 200);
// "SECU16", "RELAY-08", ...; "type N" for other codes.
std::string moduleName(int type);
// Device codes grouped by house code with number ranges: "#1-10,64 $1".
std::string codeList(const std::vector<std::string>& codes);

Reply showStatus(Env& env);
Reply showDevices(Env& env);
Reply showMirror(Env& env);
Reply listIr(Env& env);
Reply mirrorVars(Env& env, const cmd::MirrorVars& m);
Reply mirrorPoints(Env& env, const cmd::MirrorPoints& m);

}  // namespace varnel::console::detail
