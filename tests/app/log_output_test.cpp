// Log lines of `varnel run` on a terminal, under systemd and into the journal.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "log_output.h"

namespace varnel::app {
namespace {

TEST(LogOutput, each_style_writes_where_its_reader_looks_and_the_level_leaves_out_the_rest) {
    const host::ConsoleLine lines[] = {
        {"2024-05-06 13:05:09", "Varnel", "Found CPU-XA/Ocelot 0 "},
        {"2024-05-06 13:05:10", "Warning", "Timeout reading the variables 0 "},
        {"2024-05-06 13:05:11", "Varnel", "InitIO 3 Serial port /dev/ttyUSB0 went away"},
        {"2024-05-06 13:05:12", "Host", "moved 2 settings of hspi_tarnwick"},
        {"2024-05-06 13:05:13", "Varnel", "Controller link lost: the port failed; trying again every 1 to 30 s 0 "},
        {"2024-05-06 13:05:14", "Varnel", "Ocelot Plug-in Error, Timeout looking for CPU-XA/Ocelot 0 "},
    };
    const struct {
        LogStyle style;
        LogLevel level;
        std::string out, err;
    } cases[] = {
        {LogStyle::Terminal, LogLevel::Info,
         "2024-05-06 13:05:09 Varnel: Found CPU-XA/Ocelot 0 \n"
         "2024-05-06 13:05:10 Warning: Timeout reading the variables 0 \n"
         "2024-05-06 13:05:11 Varnel: InitIO 3 Serial port /dev/ttyUSB0 went away\n"
         "2024-05-06 13:05:12 Host: moved 2 settings of hspi_tarnwick\n"
         "2024-05-06 13:05:13 Varnel: Controller link lost: the port failed; trying again every 1 to 30 s 0 \n"
         "2024-05-06 13:05:14 Varnel: Ocelot Plug-in Error, Timeout looking for CPU-XA/Ocelot 0 \n"
         "Event: X10 A1 On\n",
         "varnel: the port went away\n"},
        {LogStyle::Terminal, LogLevel::Warning,
         "2024-05-06 13:05:10 Warning: Timeout reading the variables 0 \n"
         "2024-05-06 13:05:11 Varnel: InitIO 3 Serial port /dev/ttyUSB0 went away\n"
         "2024-05-06 13:05:13 Varnel: Controller link lost: the port failed; trying again every 1 to 30 s 0 \n"
         "2024-05-06 13:05:14 Varnel: Ocelot Plug-in Error, Timeout looking for CPU-XA/Ocelot 0 \n",
         "varnel: the port went away\n"},
        {LogStyle::Service, LogLevel::Info, "",
         "Varnel: Found CPU-XA/Ocelot 0 \n"
         "Warning: Timeout reading the variables 0 \n"
         "Varnel: InitIO 3 Serial port /dev/ttyUSB0 went away\n"
         "Host: moved 2 settings of hspi_tarnwick\n"
         "Varnel: Controller link lost: the port failed; trying again every 1 to 30 s 0 \n"
         "Varnel: Ocelot Plug-in Error, Timeout looking for CPU-XA/Ocelot 0 \n"
         "Event: X10 A1 On\n"
         "varnel: the port went away\n"},
        {LogStyle::Journal, LogLevel::Info, "",
         "<6>Varnel: Found CPU-XA/Ocelot 0 \n"
         "<4>Warning: Timeout reading the variables 0 \n"
         "<3>Varnel: InitIO 3 Serial port /dev/ttyUSB0 went away\n"
         "<6>Host: moved 2 settings of hspi_tarnwick\n"
         "<4>Varnel: Controller link lost: the port failed; trying again every 1 to 30 s 0 \n"
         "<4>Varnel: Ocelot Plug-in Error, Timeout looking for CPU-XA/Ocelot 0 \n"
         "<6>Event: X10 A1 On\n"
         "<3>varnel: the port went away\n"},
        {LogStyle::Journal, LogLevel::Error, "",
         "<3>Varnel: InitIO 3 Serial port /dev/ttyUSB0 went away\n<3>varnel: the port went away\n"},
    };
    for (const auto& c : cases) {
        std::ostringstream out, err;
        LogOutput log(c.level, c.style, out, err);
        for (const auto& l : lines) log.hostLine(l);
        log.line(LogLevel::Info, "Event: X10 A1 On");
        log.line(LogLevel::Error, "varnel: the port went away");
        EXPECT_EQ(out.str(), c.out) << static_cast<int>(c.style) << static_cast<int>(c.level);
        EXPECT_EQ(err.str(), c.err) << static_cast<int>(c.style) << static_cast<int>(c.level);
    }
}

TEST(LogOutput, text_from_outside_is_escaped_in_every_style) {
    for (const auto style : {LogStyle::Terminal, LogStyle::Service, LogStyle::Journal}) {
        std::ostringstream out, err;
        LogOutput log(LogLevel::Info, style, out, err);
        log.line(LogLevel::Info, "Event: ValueChange Caf\xe9\nfake: line\x1b[2J");
        log.hostLine({"2024-05-06 13:05:09", "MQTT", "refused a message: payload \xff\xfe\tx"});
        const std::string said = out.str() + err.str();
        EXPECT_NE(said.find("Event: ValueChange Caf\\xe9\\nfake: line\\x1b[2J\n"), std::string::npos) << said;
        EXPECT_NE(said.find("MQTT: refused a message: payload \\xff\\xfe\\tx\n"), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;
    }
}

TEST(LogOutput, while_the_link_is_tried_again_only_the_lines_about_the_link_come_out) {
    std::ostringstream out, err;
    LogOutput log(LogLevel::Info, LogStyle::Journal, out, err);
    bool reconnecting = false;
    log.quietWhile([&] { return reconnecting; });
    const auto entry = [&](const std::string& message) { log.hostLine({"2024-05-06 13:05:09", "Varnel", message}); };
    entry("Using Comm Port 1 0 ");
    reconnecting = true;
    entry("Controller link lost: Serial port /dev/ttyUSB0 went away; trying again every 1 to 30 s 0 ");
    entry("Using Comm Port 1 0 ");
    entry("Ocelot Plug-in Error, Timeout looking for CPU-XA/Ocelot 0 ");
    entry("InitIO 3 Serial port /dev/ttyUSB0 went away");
    entry("Controller link lost 10 min ago; still trying every 30 s 0 ");
    log.line(LogLevel::Info, "Start-up: failed after 4.0 s: no answer from the controller");
    reconnecting = false;
    entry("Controller link back after 700 s 0 ");
    EXPECT_EQ(err.str(),
              "<6>Varnel: Using Comm Port 1 0 \n"
              "<4>Varnel: Controller link lost: Serial port /dev/ttyUSB0 went away; trying again every 1 to 30 s 0 \n"
              "<4>Varnel: Controller link lost 10 min ago; still trying every 30 s 0 \n"
              "<6>Start-up: failed after 4.0 s: no answer from the controller\n"
              "<6>Varnel: Controller link back after 700 s 0 \n");
}

}  // namespace
}  // namespace varnel::app
