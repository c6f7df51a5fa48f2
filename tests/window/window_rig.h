#pragma once
// The plug-in, the embedded host and the simulated controller on virtual time,
// with the configuration window opened on a recording view.
#include <filesystem>
#include <memory>
#include <string>

#include "engine_rig.h"
#include "platform/virtual/recording_file_picker.h"
#include "recording_view.h"
#include "support/settings.h"
#include "text_files.h"
#include "window/window_slot.h"

namespace varnel::test {

struct WindowRig {
    explicit WindowRig(EngineOptions options = {}) : engine(std::move(options)) {
        slot = std::make_unique<ConfigWindowSlot>(engine.ctx(), picker, [this] {
            auto v = std::make_unique<RecordingView>();
            view = v.get();
            return v;
        });
    }
    // Start-up as the host does it, then the window through the plug-in's menu entry.
    void startAndOpen() {
        engine.startAll();
        engine.run(1000);
        open();
    }
    void open() { engine.plugin->SelectMenu("Setup"); }
    FrmConfig& window() { return *slot->window(); }
    PluginState& ctx() { return engine.ctx(); }
    std::filesystem::path configDir() { return engine.dir.path() / "config"; }
    std::filesystem::path file(const std::string& name, const std::string& text = "x") {
        writeFile(engine.dir.path() / name, text);
        return engine.dir.path() / name;
    }
    // "key=value ..." of the stored settings, "-" for one not stored.
    std::string stored(std::initializer_list<const char*> keys) {
        std::string out;
        for (const char* k : keys) out += (out.empty() ? "" : " ") + std::string(k) + "=" + ReadSetting(ctx(), k, "-");
        return out;
    }
    // The texts of the messages shown, one a line.
    std::string shown() const {
        std::string out;
        for (const auto& m : engine.prompts.shown) out += m.text + "\n";
        return out;
    }
    const host::DeviceRecord* device(const std::string& code) const {
        for (const auto& d : engine.host->devices())
            if (d.code() == code) return &d;
        return nullptr;
    }

    EngineRig engine;
    RecordingFilePicker picker;
    RecordingView* view = nullptr;
    std::unique_ptr<ConfigWindowSlot> slot;
};

}  // namespace varnel::test
