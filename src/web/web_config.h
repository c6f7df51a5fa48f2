#pragma once
// The configuration form on the web page: the window's own model, shown in a
// WebConfigView and driven by the page's requests. One form for every browser,
// as there is one window; the desktop window and the page never have it at once.
//
// A browser cannot be stopped halfway through a click to answer a question, so a
// click that would ask is not run until the request carries the answers: the
// reply lists the questions and nothing is done. While the form is open the
// plug-in's prompts come here (messages for the next reply) and the plug-in
// reaches the form as its configuration window (the port lamp, the reconnect
// after CMAX), as it reaches the desktop window.
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/file_picker.h"
#include "platform/prompts.h"
#include "platform/prompts_switch.h"
#include "plugin/plugin_state.h"
#include "web/config_endpoint.h"
#include "web/web_config_view.h"
#include "window/frm_config.h"

namespace varnel::web {

// Bounds on what a request may carry.
inline constexpr std::size_t kMaxTextBytes = 4096;
inline constexpr std::size_t kMaxAnswers = 8;
// Messages kept for a page that has not asked for them yet; the oldest go first.
inline constexpr std::size_t kMaxMessages = 100;

class WebConfig final : public ConfigWindow, public ConfigEndpoint {
public:
    // `prompts` must be the switch the plug-in's platform prompts through.
    WebConfig(PluginState& ctx, PromptsSwitch& prompts);
    ~WebConfig() override;
    WebConfig(const WebConfig&) = delete;
    WebConfig& operator=(const WebConfig&) = delete;

    // Every control, opening the form first when it is not open.
    nlohmann::json get() override;
    // One action of the page; a refused request answers {"error":..., "field":...} and changes nothing.
    nlohmann::json post(const nlohmann::json& request) override;
    // Closes the form as its Cancel does, every closing question taken as No; what no page
    // read goes to the usual prompts (the log, when headless).
    bool abandon(int idleMs) override;

    [[nodiscard]] bool formOpen() const { return model_ && !model_->unloaded(); }
    [[nodiscard]] FrmConfig* model() const { return model_.get(); }

    // The plug-in's calls to its configuration window while the form is open here.
    void show(bool modal) override;
    void showPortOpen(bool on) override;
    void clickDisconnect() override;
    void programFailed(const std::string& text) override;

private:
    class SessionPrompts;
    class PathPicker;
    struct Message {
        std::string text;
        PromptStyle style;
    };

    void openForm();
    void formClosed();
    [[nodiscard]] bool desktopWindowOpen() const { return ctx_.window.open && !formOpen(); }
    // A handler is running (its waits let requests in) or clicks wait for the line.
    [[nodiscard]] bool busy() const { return model_ && (model_->handling() || model_->heldClicks() > 0); }
    nlohmann::json reply(bool everyControl);
    nlohmann::json act(const nlohmann::json& request);
    nlohmann::json click(const std::string& control, const nlohmann::json& request);
    void addMessage(std::string text, PromptStyle style);
    bool answer(const std::string& question);

    PluginState& ctx_;
    PromptsSwitch& prompts_;
    std::unique_ptr<SessionPrompts> sessionPrompts_;
    std::unique_ptr<PathPicker> picker_;
    std::unique_ptr<WebConfigView> view_;
    std::unique_ptr<FrmConfig> model_;
    ConfigWindow* previousWindow_ = nullptr;
    bool installed_ = false;
    bool closedSinceReply_ = false;
    std::deque<Message> messages_;
    // The answers of the click that asks, kept until it has run (it may wait for the line).
    std::map<std::string, bool, std::less<>> answers_;
};

}  // namespace varnel::web
