#pragma once
// An embedded host in a fresh temp directory, with an in-memory per-user store
// and a recording launcher; restart() makes a new host on the same directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/embedded_callback.h"
#include "host/embedded_host.h"
#include "platform/virtual/memory_settings.h"
#include "platform/virtual/recording_launcher.h"
#include "rig.h"
#include "text_files.h"

namespace varnel::test {

struct HostFixture {
    TempDir dir;
    MemorySettings userSettings;
    RecordingLauncher launcher;
    EmbeddedHostOptions options;
    std::shared_ptr<EmbeddedHost> host;

    explicit HostFixture(EmbeddedHostOptions opts = {}) : options(std::move(opts)) { start(); }

    EmbeddedHost& start() {
        host = std::make_shared<EmbeddedHost>(dir.path(), userSettings, launcher, options);
        return *host;
    }
    EmbeddedHost& restart() {
        host.reset();
        return start();
    }
    [[nodiscard]] std::filesystem::path path(const std::string& rel) const { return dir.path() / rel; }
};

// A file in a host directory that the host must refuse to start on.
struct HostRefusal {
    std::string what;
    std::function<void(const std::filesystem::path& file)> make;
    std::string says;  // the refusal, "{}" standing for the file's path
};

// Makes each case's file at `relative` in a fresh host directory and expects the host to
// refuse it; `after` then looks at the file.
inline void expectHostRefuses(const std::string& relative, const std::vector<HostRefusal>& cases,
                              const std::function<void(const std::filesystem::path& file)>& after = {}) {
    for (const auto& c : cases) {
        TempDir dir;
        const auto file = dir.path() / relative;
        c.make(file);
        MemorySettings settings;
        RecordingLauncher launcher;
        try {
            EmbeddedHost hs(dir.path(), settings, launcher);
            ADD_FAILURE() << c.what << ": the host started";
        } catch (const HostDirError& e) {
            std::string says = c.says;
            says.replace(says.find("{}"), 2, file.string());
            EXPECT_EQ(std::string(e.what()), says);
        }
        if (after) after(file);
    }
}

// A new device with code `hc` + `dc`; returns its reference.
inline std::int32_t addDevice(Host& hs, const std::string& name, const std::string& hc, const std::string& dc = "1") {
    const std::int32_t ref = hs.NewDeviceRef(name);
    auto d = hs.GetDeviceByRef(ref);
    d->set_hc(hc);
    d->set_dc(dc);
    return ref;
}

inline std::string slurp(const std::filesystem::path& p) { return readFile(p); }
inline void spit(const std::filesystem::path& p, const std::string& text) { writeFile(p, text); }

}  // namespace varnel::test
