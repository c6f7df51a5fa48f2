#include "sim/memory.h"

namespace varnel::sim {

namespace {
constexpr int kAnalogBase = 10;  // value-request selectors from 10 up are analog channels

std::uint8_t low(std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::uint8_t high(std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }
bool validModule(int m) { return m >= 1 && m <= kModuleCount; }
}  // namespace

bool isFixedBuffer(Selector sel) {
    return sel == kParameterBlock1 || sel == kParameterBlock2 || sel == kModuleTable || sel == kIoBuffer ||
           sel == kValueBuffer;
}

Memory::Memory(const ControllerConfig& cfg)
    : io_(cfg.io),
      vars_(cfg.variables),
      analog_(cfg.analog),
      parameters_(cfg.parameters),
      irSize_(cfg.irSize),
      varSel_(kDefaultVariableSelector) {
    setVariableSelector(cfg.variableSelector);
    for (const auto& [address, type] : cfg.modules) setModule(address, static_cast<std::uint8_t>(type));
}

Buffer Memory::read(Selector sel) const {
    if (sel == kParameterBlock1) {
        Buffer b = block1_;
        b[12] = varSel_.first;
        b[13] = varSel_.second;
        return b;
    }
    if (sel == kParameterBlock2) {
        Buffer b = block2_;
        b[244] = low(irSize_);
        b[245] = high(irSize_);
        return b;
    }
    if (sel == kModuleTable) return modules_;
    if (sel == kIoBuffer) return io_;
    if (sel == kValueBuffer) return values_;
    if (sel == varSel_) {
        Buffer b{};
        for (std::size_t i = 0; i < vars_.size(); ++i) {
            b[2 * i] = low(vars_[i]);
            b[2 * i + 1] = high(vars_[i]);
        }
        return b;
    }
    if (auto it = extra_.find(sel); it != extra_.end()) return it->second;
    return Buffer{};
}

std::uint8_t Memory::moduleType(int address) const { return validModule(address) ? modules_[address - 1] : 0; }

void Memory::setModule(int address, std::uint8_t type) {
    if (validModule(address)) modules_[address - 1] = type;
}

std::uint16_t Memory::variable(int index) const { return index >= 0 && index < kVariableCount ? vars_[index] : 0; }

void Memory::setVariable(int index, std::uint16_t value) {
    if (index >= 0 && index < kVariableCount) vars_[index] = value;
}

bool Memory::rawPoint(int module, int point) const {
    if (!validModule(module) || point < 0 || point >= kPointsPerModule) return false;
    const std::uint8_t byte = io_[2 * (module - 1) + point / 8];
    return (byte >> (point % 8) & 1) != 0;
}

bool Memory::setRawPoint(int module, int point, bool set) {
    if (!validModule(module) || point < 0 || point >= kPointsPerModule) return false;
    if (rawPoint(module, point) == set) return false;
    std::uint8_t& byte = io_[2 * (module - 1) + point / 8];
    byte = static_cast<std::uint8_t>(byte ^ (1u << (point % 8)));
    return true;
}

void Memory::collectValues(std::uint8_t selector) {
    for (int m = 1; m <= kModuleCount; ++m) {
        const auto& table = selector >= kAnalogBase ? analog_ : parameters_;
        const int key = selector >= kAnalogBase ? selector - kAnalogBase : selector + 1;
        const auto it = table.find({m, key});
        const std::uint16_t v = it == table.end() ? 0 : it->second;
        const auto at = 2 * static_cast<std::size_t>(m - 1);
        values_[at] = low(v);
        values_[at + 1] = high(v);
    }
}

bool Memory::setVariableSelector(Selector sel) {
    if (isFixedBuffer(sel)) return false;
    varSel_ = sel;
    return true;
}

}  // namespace varnel::sim
