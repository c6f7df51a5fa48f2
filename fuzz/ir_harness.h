#pragma once
// One plug-in context on virtual time for the IR file fuzzers, with its host
// directory in a temporary folder. Each input rewrites the files it is about.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "commands/ir_files.h"
#include "rig.h"

namespace varnel::fuzz {

struct IrHarness {
    test::Rig rig;

    IrHarness() { std::filesystem::create_directories(configDir()); }

    std::filesystem::path configDir() const { return rig.dir.path() / "config"; }

    void write(std::string_view name, std::string_view bytes) const {
        std::ofstream out(configDir() / name, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    void remove(std::string_view name) const {
        std::error_code ec;
        std::filesystem::remove(configDir() / name, ec);
    }
    // Fresh tables for every input; the dictionary would otherwise only grow.
    void reset() {
        rig.ctx.ir = IrState{};
        rig.host->log.clear();
    }
};

// Abort (a crash the fuzzer reports) when an invariant does not hold.
inline void require(bool ok) {
    if (!ok) std::abort();
}

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace varnel::fuzz
