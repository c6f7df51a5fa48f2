#include "window/window_slot.h"

namespace varnel {

ConfigWindowSlot::ConfigWindowSlot(Context& ctx, FilePicker& picker, ViewFactory makeView)
    : ctx_(ctx), picker_(picker), makeView_(std::move(makeView)) {
    ctx_.hooks.showConfigWindow = [this](bool) { show(); };
    ctx_.hooks.windowPortOpen = [this](bool on) {
        if (model_) model_->showPortOpen(on);
    };
    ctx_.hooks.windowDisconnectClick = [this] {
        if (model_) model_->Disconnect_Click();
    };
}

ConfigWindowSlot::~ConfigWindowSlot() {
    ctx_.hooks.showConfigWindow = nullptr;
    ctx_.hooks.windowPortOpen = nullptr;
    ctx_.hooks.windowDisconnectClick = nullptr;
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
    model_ = std::make_unique<FrmConfig>(ctx_, *view_, picker_);
    model_->onUnloaded = [this] { retire(); };
    view_->attach(*model_);
    model_->Form_Load();
}

void ConfigWindowSlot::retire() {
    retiredModel_ = std::move(model_);
    retiredView_ = std::move(view_);
}

}  // namespace varnel
