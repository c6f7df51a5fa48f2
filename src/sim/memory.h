#pragma once
// The controller's memory as the block reads see it: two parameter blocks, the
// module table, the I/O buffer, the variables and the value buffer.
#include <cstdint>
#include <map>

#include "sim/config.h"

namespace varnel::sim {

class Memory {
public:
    explicit Memory(const ControllerConfig& cfg);

    // The 256 bytes a block read of `sel` returns (zeros for a buffer nobody set).
    [[nodiscard]] Buffer read(Selector sel) const;
    // Any other buffer the controller should answer with.
    void setBuffer(Selector sel, const Buffer& data) { extra_[sel] = data; }

    [[nodiscard]] std::uint8_t moduleType(int address) const;
    void setModule(int address, std::uint8_t type);

    [[nodiscard]] std::uint16_t variable(int index) const;
    void setVariable(int index, std::uint16_t value);

    // Stored bit of a point (true = set = reads as 0 to the plug-in); false out of range.
    [[nodiscard]] bool rawPoint(int module, int point) const;
    // Returns true when the bit changed; out-of-range addresses change nothing.
    bool setRawPoint(int module, int point, bool set);
    [[nodiscard]] const Buffer& io() const { return io_; }

    void setAnalog(int module, int channel, std::uint16_t value) { analog_[{module, channel}] = value; }
    void setParameter(int module, int number, std::uint16_t value) { parameters_[{module, number}] = value; }
    // A value request: fills the value buffer with one reading per module.
    void collectValues(std::uint8_t selector);
    [[nodiscard]] const Buffer& values() const { return values_; }

    [[nodiscard]] std::uint16_t irSize() const { return irSize_; }
    void setIrSize(std::uint16_t n) { irSize_ = n; }
    [[nodiscard]] Selector variableSelector() const { return varSel_; }
    // False (and nothing changed) for a selector that names one of the fixed buffers.
    bool setVariableSelector(Selector sel);
    // Bytes of the parameter blocks the plug-in does not look at; the named bytes
    // (variable selector, IR size) are filled in when read.
    Buffer& parameterBlock1() { return block1_; }
    Buffer& parameterBlock2() { return block2_; }

private:
    Buffer block1_{};
    Buffer block2_{};
    Buffer modules_{};
    Buffer io_{};
    Buffer values_{};
    std::array<std::uint16_t, kVariableCount> vars_{};
    std::map<std::pair<int, int>, std::uint16_t> analog_;
    std::map<std::pair<int, int>, std::uint16_t> parameters_;
    std::map<Selector, Buffer> extra_;
    std::uint16_t irSize_ = 0;
    Selector varSel_;
};

// True for the selectors of the fixed buffers.
bool isFixedBuffer(Selector sel);

}  // namespace varnel::sim
