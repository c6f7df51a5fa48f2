// Log lines of `varnel run` on a terminal, under systemd and into the journal.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace varnel::app
