#include "console/help.h"

#include <algorithm>
#include <cctype>

namespace varnel::console {

namespace {

struct Topic {
    const char* word;
    const char* usage;
    const char* summary;
    std::vector<const char*> details;
};

const std::vector<Topic>& topics() {
    static const std::vector<Topic> kTopics = {
        {"status", "status", "the plug-in's state: port, controller, link, modules, IR, queue", {}},
        {"devices", "devices", "the host devices: code, name, location, status, value", {}},
        {"set",
         "set CODE on|off|VALUE",
         "set a variable or output device as the host does",
         {"  A variable device takes on (1), off (0) or a value 0 to 32767; the write is queued.",
          "  An output device takes on, off or a value 0 to 255: the controller's point is written",
          "  (an on/off command would change only the host device, which the controller then resets).",
          "  Inputs follow the controller and cannot be set.", "  Examples: set #5 on    set $3 1200    set [9 off"}},
        {"x10",
         "x10 TARGET FUNCTION [ARGS]",
         "send X10 on the power line",
         {"  TARGET is a house A to P with optional units 1 to 16: A, A1, A1+A3 (or A1+3).",
          "  FUNCTION: on, off, dim PERCENT, bright PERCENT, preset LEVEL (0-31),",
          "  extended DATA1 DATA2 (0-255 each), all-units-off, all-lights-on, all-lights-off,",
          "  hail, hail-ack, extended-data, status-on, status-off, status-request.",
          "  Only on, off, dim, bright, preset and extended take several units.",
          "  Examples: x10 A1+A3 on    x10 B dim 50    x10 C5 bright 20    x10 D all-units-off"}},
        {"var",
         "var N VALUE",
         "write controller variable N (0-127) with VALUE (0-65535)",
         {"  Written at once; a mirrored variable's device follows at the next variable poll.",
          "  Example: var 12 300"}},
        {"ir",
         "ir play [--zone Z] LABEL | ir learn LABEL | ir list",
         "play, learn or list IR codes",
         {"  LABEL is a label number 0 to 1023, or for play a name \"GROUP LABEL\" from the IR files.",
          "  --zone Z plays on zone Z (0: the controller's own output) instead of the current zone.",
          "  ir learn queues the learning; the prompt goes to the host log and the controller waits",
          "  up to 15 seconds for the remote's key. ir list shows the names that can be played.",
          "  Examples: ir play 5    ir play TV Power    ir play --zone 3 12    ir learn 20"}},
        {"analog",
         "analog UNIT POINT",
         "read an analog input of module UNIT (1-128), POINT 0-15",
         {"  Takes a little over a second: the controller collects the value first."}},
        {"param",
         "param UNIT NUMBER",
         "read parameter NUMBER (1-256) of module UNIT (1-128)",
         {"  Takes about 3 seconds; up to three attempts when the controller does not answer."}},
        {"screen",
         "screen [--backlight] [--beep] [--clear] [--font 0|1] X Y [--] TEXT",
         "put text on the Leopard screen at X, Y",
         {"  Options may stand before or after X Y; the text is the rest of the line (40 characters",
          "  are shown). Use -- before a text that starts with --.",
          "  Example: screen --clear --beep 0 1 Hello world"}},
        {"history",
         "history NAME|CODE|var N [--since 24h]",
         "the kept changes of a device, a variable or a series (link, x10, ir, touch, command)",
         {"  NAME is a device's name or location and name; CODE its code; var N a variable 0 to 127;",
          "  a series id (var:12, unit:1:point:5, link) is taken as it is. --since takes s, m, h or d.",
          "  Shows the last 200 changes; the web page's History tab and GET /api/history.csv have all.",
          "  Examples: history var 12    history #5 --since 7d    history link --since 30d"}},
        {"mirror",
         "mirror | mirror vars [add|remove] LIST | mirror points UNIT [add|remove] LIST [invert|no-invert]",
         "show or choose the mirrored variables and points",
         {"  LIST: numbers and ranges, e.g. 0-9,64,127, or none. Without add/remove the list is the",
          "  whole selection, as in the configuration window: devices left out are deleted.",
          "  Variables are 0 to 127; points 0 to 15 of a SECU16, SECU16I or RELAY-08 (0 to 7).",
          "  A house code stays taken: an empty half or unit keeps its first device.",
          "  invert/no-invert set the unit's inversion; without it the unit keeps its setting.",
          "  Examples: mirror vars 0-9,64    mirror vars add 12    mirror points 1 0-7 invert"}},
        {"config",
         "config",
         "open the configuration window (needs a display)",
         {"  Without a display: mirror chooses the mirrored variables and points, varnel sync",
          "  copies names between the System Map and the host."}},
        {"help", "help [COMMAND]", "this list, or the details of a command", {}},
        {"quit", "quit", "stop varnel (also: exit)", {}},
    };
    return kTopics;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

const Topic* find(std::string_view word) {
    std::string w = lowered(word);
    if (w == "exit") w = "quit";
    const auto& all = topics();
    auto it = std::find_if(all.begin(), all.end(), [&](const Topic& t) { return w == t.word; });
    return it == all.end() ? nullptr : &*it;
}

}  // namespace

std::string usageOf(std::string_view word) {
    const Topic* t = find(word);
    return t ? t->usage : "";
}

bool isCommandWord(std::string_view word) { return find(word) != nullptr; }

std::vector<std::string> helpLines(std::string_view topic) {
    std::vector<std::string> out;
    if (topic.empty()) {
        out.emplace_back("Commands (words are case-insensitive; help COMMAND for details):");
        for (const auto& t : topics()) {
            out.push_back(std::string("  ") + t.usage);
            out.push_back(std::string("      ") + t.summary);
        }
        return out;
    }
    const Topic* t = find(topic);
    if (!t) return out;
    out.push_back(std::string(t->usage));
    out.push_back(std::string("  ") + t->summary);
    for (const char* d : t->details) out.emplace_back(d);
    return out;
}

}  // namespace varnel::console
