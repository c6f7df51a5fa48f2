#include "web/web_config.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include "files/files.h"
#include "support/codepage.h"
#include "support/escape.h"

namespace varnel::web {

namespace {

using nlohmann::json;

// What a name or a path from the request may show of itself in a message.
constexpr std::size_t kEchoBytes = 200;
constexpr std::size_t kMaxControlName = 64;

json refusal(const std::string& field, const std::string& text) { return {{"error", text}, {"field", field}}; }

std::string shownText(std::string_view text) { return "\"" + escaped(text, kEchoBytes) + "\""; }

const char* styleName(PromptStyle style) {
    switch (style) {
        case PromptStyle::Information: return "information";
        case PromptStyle::Exclamation: return "exclamation";
        case PromptStyle::Critical: return "critical";
    }
    return "information";
}

struct ActionFields {
    std::string_view action;
    std::array<std::string_view, 3> fields;  // besides "action"
};
constexpr ActionFields kActions[] = {
    {.action = "text", .fields = {"control", "text"}},
    {.action = "check", .fields = {"control", "checked"}},
    {.action = "choose", .fields = {"control", "index"}},
    {.action = "click", .fields = {"control", "answers", "path"}},
    {.action = "open", .fields = {}},
};

// The path box whose file a tool button runs; it opens the box's picker when that file is not there.
const char* toolPathBox(std::string_view control) {
    if (control == "aCMAX") return "aCMAXexe";
    if (control == "aIRMax") return "aIRMaxExe";
    if (control == "aSynchronize") return "aProjectFile";
    return nullptr;
}

// Nothing when `path` names an existing regular file, else why not, naming `box`.
std::optional<std::string> fileProblem(const std::string& box, const std::string& path) {
    if (path.size() > kMaxTextBytes)
        return box + ": the path is longer than " + std::to_string(kMaxTextBytes) + " bytes";
    if (std::any_of(path.begin(), path.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return box + ": the path holds control characters";
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (path.empty() || ec || !std::filesystem::exists(status)) return box + ": no file at " + shownText(path);
    if (!std::filesystem::is_regular_file(status)) return box + ": " + shownText(path) + " is not a regular file";
    return std::nullopt;
}

}  // namespace

// The model's message boxes become messages of the next reply; its questions are
// answered from the request that ran the click.
class WebConfig::SessionPrompts final : public Prompts {
public:
    explicit SessionPrompts(WebConfig& owner) : owner_(owner) {}
    void message(const std::string& text, PromptStyle style) override { owner_.addMessage(text, style); }
    bool question(const std::string& text) override { return owner_.answer(text); }
    void beep() override {}

private:
    WebConfig& owner_;
};

// The page sends the chosen file's path with the click that opens the picker.
class WebConfig::PathPicker final : public FilePicker {
public:
    std::string openFile(const std::string& /*filter*/) override { return std::exchange(chosen_, {}); }
    void choose(std::string path) { chosen_ = std::move(path); }

private:
    std::string chosen_;
};

WebConfig::WebConfig(PluginState& ctx, PromptsSwitch& prompts)
    : ctx_(ctx),
      prompts_(prompts),
      sessionPrompts_(std::make_unique<SessionPrompts>(*this)),
      picker_(std::make_unique<PathPicker>()) {}

WebConfig::~WebConfig() {
    if (formOpen()) {
        ctx_.window.open = false;
        prompts_.divert(nullptr);
    }
    if (installed_ && ctx_.configWindow == this) ctx_.configWindow = previousWindow_;
}

void WebConfig::openForm() {
    // The form closed before is dropped only now: it closed from inside its own handler.
    model_.reset();
    view_ = std::make_unique<WebConfigView>();
    model_ = std::make_unique<FrmConfig>(ctx_, ctx_.window, *view_, *picker_);
    model_->onUnloaded = [this] { formClosed(); };
    view_->attach(*model_);
    if (!installed_) {
        previousWindow_ = ctx_.configWindow;
        ctx_.configWindow = this;
        installed_ = true;
    }
    prompts_.divert(sessionPrompts_.get());
    model_->Form_Load();
}

void WebConfig::formClosed() {
    prompts_.divert(nullptr);
    if (installed_ && ctx_.configWindow == this) ctx_.configWindow = previousWindow_;
    installed_ = false;
    closedSinceReply_ = true;
}

void WebConfig::addMessage(std::string text, PromptStyle style) {
    if (messages_.size() >= kMaxMessages) messages_.pop_front();
    messages_.push_back({std::move(text), style});
}

bool WebConfig::answer(const std::string& question) {
    if (const auto it = answers_.find(question); it != answers_.end()) return it->second;
    // Only a question the model did not say it would ask gets here: No leaves things as
    // they are, and the page is told.
    addMessage("Not asked on the page, so taken as No: " + question, PromptStyle::Exclamation);
    return false;
}

json WebConfig::reply(bool everyControl) {
    json out;
    if (everyControl) {
        out["controls"] = view_ ? view_->all() : json::object();
        if (view_) (void)view_->takeChanged();
    } else {
        out["controls"] = view_ ? view_->takeChanged() : json::object();
    }
    json messages = json::array();
    for (const auto& m : messages_) messages.push_back({{"text", toUtf8(m.text)}, {"style", styleName(m.style)}});
    messages_.clear();
    out["messages"] = std::move(messages);
    out["questions"] = json::array();
    out["closed"] = std::exchange(closedSinceReply_, false);
    out["busy"] = busy();
    out["pending"] = model_ ? model_->heldClicks() : 0;
    return out;
}

json WebConfig::get() {
    if (desktopWindowOpen())
        return refusal("form", "the configuration window is open on the desktop: close it there first");
    // A form closing inside its own handler is opened anew by the next request.
    if (!formOpen() && !busy()) openForm();
    return reply(true);
}

json WebConfig::post(const json& request) {
    if (!request.is_object()) return refusal("request", "the request must be a JSON object");
    if (desktopWindowOpen())
        return refusal("form", "the configuration window is open on the desktop: close it there first");
    // The click those answers were for has run.
    if (!busy()) answers_.clear();
    return act(request);
}

bool WebConfig::abandon(int idleMs) {
    if (busy()) return false;
    if (!formOpen()) return true;
    answers_.clear();  // nobody is there to answer: every closing question is No
    model_->Form_Unload();
    // Closed, prompts go their usual way again.
    for (const auto& m : messages_) prompts_.message(m.text, m.style);
    messages_.clear();
    const std::string idle = idleMs >= 60'000 && idleMs % 60'000 == 0 ? std::to_string(idleMs / 60'000) + " minutes"
                                                                      : std::to_string(idleMs / 1000) + " seconds";
    prompts_.message("The configuration form on the web page was closed: no page had been open for " + idle +
                         ". Changes not saved with Update were dropped.",
                     PromptStyle::Information);
    return true;
}

json WebConfig::act(const json& request) {
    const auto action = request.find("action");
    const ActionFields* known = nullptr;
    if (action != request.end() && action->is_string())
        for (const auto& a : kActions)
            if (a.action == action->get_ref<const std::string&>()) known = &a;
    if (known == nullptr) return refusal("action", "action must be one of text, check, choose, click, open");
    for (const auto& [key, value] : request.items()) {
        if (key == "action") continue;
        if (std::find(known->fields.begin(), known->fields.end(), key) == known->fields.end())
            return refusal(escaped(key, kMaxControlName),
                           "the action " + std::string(known->action) + " takes no field " + shownText(key));
    }

    if (known->action == "open") {
        if (busy()) return refusal("open", "the form is busy with an earlier action; try again in a moment");
        openForm();
        return reply(true);
    }
    if (!formOpen()) {
        json out = refusal("form", "the configuration form is closed: load it again");
        out["closed"] = true;
        return out;
    }

    const auto controlField = request.find("control");
    if (controlField == request.end() || !controlField->is_string())
        return refusal("control", "control must be the name of a control");
    const std::string& name = controlField->get_ref<const std::string&>();
    const ControlSpec* spec = name.size() <= kMaxControlName ? findControl(name) : nullptr;
    if (spec == nullptr) return refusal("control", "no control named " + shownText(name));
    const auto& state = view_->find(name);
    if (!state.enabled || !state.visible) return refusal(name, name + " is not available now");

    if (known->action == "text") {
        if (spec->kind != ControlKind::Text) return refusal(name, name + " takes no text");
        const auto text = request.find("text");
        if (text == request.end() || !text->is_string()) return refusal(name, name + ": text must be a string");
        const std::string& value = text->get_ref<const std::string&>();
        if (value.size() > kMaxTextBytes)
            return refusal(name, name + ": longer than " + std::to_string(kMaxTextBytes) + " bytes");
        // The desktop window's boxes take only what they can hold.
        if (spec->digits > 0 && (value.size() > static_cast<std::size_t>(spec->digits) ||
                                 !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })))
            return refusal(name, name + ": digits only, at most " + std::to_string(spec->digits));
        if (spec->path && !value.empty())
            if (auto problem = fileProblem(name, value)) return refusal(name, *problem);
        view_->setText(name, value);
        // A remap box counts as edited once typed in; the others are read by Update.
        if (name.starts_with("aRemap_")) model_->clicked(name);
        return reply(false);
    }

    if (known->action == "check") {
        if (spec->kind != ControlKind::Check && spec->kind != ControlKind::Option)
            return refusal(name, name + " is not a check box or option");
        const auto checked = request.find("checked");
        if (checked == request.end() || !checked->is_boolean())
            return refusal(name, name + ": checked must be true or false");
        const bool on = checked->get<bool>();
        if (spec->kind == ControlKind::Option) {
            if (!on) return refusal(name, name + ": an option is cleared by choosing the other one");
            view_->setChecked(optionPartner(name), false);
        }
        view_->setChecked(name, on);
        model_->clicked(name);
        return reply(false);
    }

    if (known->action == "choose") {
        if (spec->kind != ControlKind::Choice) return refusal(name, name + " is not a drop-down list");
        const auto index = request.find("index");
        if (index == request.end() || !index->is_number_integer())
            return refusal(name, name + ": index must be a whole number");
        const auto i = index->get<std::int64_t>();
        if (i < 0 || i >= static_cast<std::int64_t>(state.items.size()))
            return refusal(name, state.items.empty()
                                     ? name + ": the list is empty"
                                     : name + ": index must be from 0 to " + std::to_string(state.items.size() - 1));
        view_->setCurrentIndex(name, static_cast<int>(i));
        model_->chosen(name, static_cast<int>(i));
        return reply(false);
    }

    return click(name, request);
}

json WebConfig::click(const std::string& name, const json& request) {
    const ControlSpec& spec = *findControl(name);
    if (spec.kind != ControlKind::Button && !spec.path) return refusal(name, name + " is not a button");

    // The box whose picker the click opens: a path box's own, a tool's when its file is not there.
    std::string pickerBox;
    if (spec.path) pickerBox = name;
    const char* toolBox = toolPathBox(name);
    if (toolBox != nullptr && !files::isRegularFile(view_->text(toolBox))) pickerBox = toolBox;
    const auto path = request.find("path");
    if (path != request.end()) {
        if (!spec.path && toolBox == nullptr) return refusal("path", name + " opens no file picker");
        if (!path->is_string()) return refusal(pickerBox.empty() ? name : pickerBox, "path must be a string");
    }
    if (!pickerBox.empty()) {
        if (path == request.end())
            return refusal(pickerBox, pickerBox + ": no file at " + shownText(view_->text(pickerBox)) +
                                          "; send the file's path with the click");
        if (auto problem = fileProblem(pickerBox, path->get_ref<const std::string&>()))
            return refusal(pickerBox, *problem);
    }

    std::map<std::string, bool, std::less<>> answers;
    if (const auto given = request.find("answers"); given != request.end()) {
        if (!given->is_object() || given->size() > kMaxAnswers)
            return refusal("answers", "answers must map at most " + std::to_string(kMaxAnswers) +
                                          " question texts to true or false");
        for (const auto& [question, yes] : given->items()) {
            if (!yes.is_boolean() || question.size() > kMaxTextBytes)
                return refusal("answers", "answers must map question texts to true or false");
            answers.emplace(question, yes.get<bool>());
        }
    }

    // What a click asks is known only against a settled form: an earlier click still
    // waiting could change it.
    if (busy())
        return refusal(name, name +
                                 " waits: an earlier action is still running or waiting for the controller's "
                                 "line; try again in a moment");
    json unanswered = json::array();
    for (const auto& q : model_->questionsFor(name))
        if (!answers.contains(q)) unanswered.push_back(toUtf8(q));
    if (!unanswered.empty()) {
        json out = reply(false);
        out["questions"] = std::move(unanswered);
        return out;
    }

    answers_ = std::move(answers);
    if (!pickerBox.empty()) picker_->choose(path->get<std::string>());
    model_->clicked(name);
    // Held for the line, the click takes the path when it runs.
    if (!busy()) picker_->choose({});
    return reply(false);
}

void WebConfig::show(bool /*modal*/) {
    // The form is open on the page, where it stays; the desktop window cannot open beside it.
}

void WebConfig::showPortOpen(bool on) {
    if (formOpen()) model_->showPortOpen(on);
}

void WebConfig::clickDisconnect() {
    if (formOpen()) model_->Disconnect_Click();
}

void WebConfig::programFailed(const std::string& text) {
    if (formOpen()) model_->programFailed(text);
}

}  // namespace varnel::web
