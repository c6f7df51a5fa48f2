#include "window/window_slot.h"

namespace varnel {

ConfigWindowSlot::ConfigWindowSlot(PluginState& ctx, FilePicker& picker, ViewFactory makeView)
    : ctx_(ctx), picker_(picker), makeView_(std::move(makeView)) {
    ctx_.configWindow = this;
}

ConfigWindowSlot::~ConfigWindowSlot() {
    if (ctx_.configWindow == this) ctx_.configWindow = nullptr;
    if (model_ && !model_->unloaded()) ctx_.window.open = false;
}

void ConfigWindowSlot::show() {
    if (model_) {
        view_->bringToFront();
        return;
    }
    retiredModel_.reset();
    retiredView_.reset();
    view_ = makeView_();
    if (!view_) return;
    model_ = std::make_unique<FrmConfig>(ctx_, ctx_.window, *view_, picker_);
    model_->onUnloaded = [this] { retire(); };
    view_->attach(*model_);
    model_->Form_Load();
}

void ConfigWindowSlot::showPortOpen(bool on) {
    if (model_) model_->showPortOpen(on);
}

void ConfigWindowSlot::clickDisconnect() {
    if (model_) model_->Disconnect_Click();
}

void ConfigWindowSlot::programFailed(const std::string& text) {
    if (model_) model_->programFailed(text);
}

void ConfigWindowSlot::retire() {
    retiredModel_ = std::move(model_);
    retiredView_ = std::move(view_);
}

}  // namespace varnel
