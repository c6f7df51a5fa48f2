// Log lines of `varnel run` on a terminal, under systemd and into the journal.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "log_output.h"

namespace varnel::app {
namespace {

TEST(LogOutput, each_style_writes_where_its_reader_looks_at_its_priority_and_the_level_leaves_out_the_rest) {
    // Each line and the journal priority it must have: a lost link and time-outs are warnings.
    const std::pair<host::ConsoleLine, char> lines[] = {
        {{"2024-05-06 13:05:09", "Varnel", "Found CPU-XA/Ocelot 0 "}, '6'},
        {{"2024-05-06 13:05:10", "Warning", "Timeout reading the variables 0 "}, '4'},
        {{"2024-05-06 13:05:11", "Varnel", "InitIO 3 Serial port /dev/ttyUSB0 went away"}, '3'},
        {{"2024-05-06 13:05:13", "Varnel", "Controller link lost: the port failed; trying again 0 "}, '4'},
        {{"2024-05-06 13:05:14", "Varnel", "Ocelot Plug-in Error, Timeout looking for CPU-XA/Ocelot 0 "}, '4'},
    };
    for (const auto style : {LogStyle::Terminal, LogStyle::Service, LogStyle::Journal}) {
        for (const auto level : {LogLevel::Error, LogLevel::Warning, LogLevel::Info}) {
            std::ostringstream out, err;
            LogOutput log(level, style, out, err);
            std::string hostLines;
            for (const auto& [l, priority] : lines) {
                log.hostLine(l);
                if (priority > "346"[static_cast<int>(level)]) continue;
                const std::string said = l.source + ": " + l.message + "\n";
                hostLines += style == LogStyle::Terminal  ? l.time + " " + said
                             : style == LogStyle::Journal ? "<" + std::string(1, priority) + ">" + said
                                                          : said;
            }
            log.line(LogLevel::Info, "Event: X10 A1 On");
            log.line(LogLevel::Error, "varnel: the port went away");
            const bool info = level == LogLevel::Info;
            const std::string event =
                info ? std::string(style == LogStyle::Journal ? "<6>" : "") + "Event: X10 A1 On\n" : "";
            const std::string error =
                std::string(style == LogStyle::Journal ? "<3>" : "") + "varnel: the port went away\n";
            SCOPED_TRACE(std::to_string(static_cast<int>(style)) + "/" + std::to_string(static_cast<int>(level)));
            if (style == LogStyle::Terminal) {
                EXPECT_EQ(out.str(), hostLines + event);
                EXPECT_EQ(err.str(), error);
            } else {
                EXPECT_EQ(out.str(), "");
                EXPECT_EQ(err.str(), hostLines + event + error);
            }
        }
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
