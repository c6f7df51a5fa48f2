#pragma once
// The callback object of the embedded host: hands out the host, offers free house
// codes, and records what the plug-in delivers (events, menu entries, window raises).
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/embedded_host.h"

namespace varnel {

class EmbeddedCallback final : public Callback {
public:
    // `typeName` "Setup" makes the plug-in treat this as the setup host.
    explicit EmbeddedCallback(std::shared_ptr<EmbeddedHost> host, std::string typeName = "EmbeddedHost")
        : host_(std::move(host)), typeName_(std::move(typeName)) {}

    [[nodiscard]] std::string typeName() const override { return typeName_; }
    std::shared_ptr<Host> GetHSIface() override { return host_; }
    [[nodiscard]] std::string name() const override { return "varnel embedded host"; }
    void RegisterMenu(const std::string& title, const std::string& item) override { menus_.emplace_back(title, item); }
    std::int32_t GetNextFreeIOCode() override { return host_->nextFreeIOCode(); }
    void X10Event(const std::string& addresses, const std::string& house, std::int16_t command,
                  const std::string& level, const std::string& extra) override;
    void IREvent(std::int16_t code) override;
    void ValueChangeEvent(const std::string& code, std::int32_t value) override;
    void ForceFront(std::intptr_t windowHandle) override { raised_.push_back(windowHandle); }

    [[nodiscard]] EmbeddedHost& host() { return *host_; }
    [[nodiscard]] const std::vector<std::pair<std::string, std::string>>& menus() const { return menus_; }
    [[nodiscard]] const std::vector<std::intptr_t>& raisedWindows() const { return raised_; }

private:
    std::shared_ptr<EmbeddedHost> host_;
    std::string typeName_;
    std::vector<std::pair<std::string, std::string>> menus_;
    std::vector<std::intptr_t> raised_;
};

}  // namespace varnel
