#pragma once
// What the command tests share: a rig with a scripted far end (controller found,
// variable selector 12 34), the host log by source, and files in the host's config dir.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "rig.h"
#include "scripted_controller.h"

namespace varnel::test {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

template <std::size_t N>
Bytes bytes(const std::array<std::uint8_t, N>& frame) {
    return Bytes(frame.begin(), frame.end());
}

struct CommandTest : ::testing::Test {
    Rig rig;
    ScriptedController far{rig};
    CommandTest() {
        rig.ctx.controller.connected = true;
        rig.ctx.controller.varSelector = {0x12, 0x34};
    }
    // Host log messages from `source` ("" = every entry, as "source: message").
    Lines logged(const std::string& source = "") const {
        Lines out;
        for (const auto& [s, m] : rig.host->log)
            if (source.empty() || s == source) out.push_back(source.empty() ? s + ": " + m : m);
        return out;
    }
    std::filesystem::path config() const { return rig.dir.path() / "config"; }
    void writeLines(const std::string& name, const Lines& lines, const std::string& eol = "\r\n") const {
        std::filesystem::create_directories(config());
        std::ofstream out(config() / name, std::ios::binary);
        for (const auto& l : lines) out << l << eol;
    }
};

}  // namespace varnel::test
