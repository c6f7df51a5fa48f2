#pragma once
// A pseudo-terminal for tests: the test holds the master, the code under test
// opens the slave by name as it would open a serial device.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace varnel::test {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    [[nodiscard]] const std::string& slaveName() const { return slave_; }
    // Safe to call from another thread.
    void write(std::span<const std::uint8_t> bytes) const;
    void write(std::initializer_list<std::uint8_t> bytes) const { write(std::span(bytes.begin(), bytes.size())); }
    // Reads until `n` bytes came or `timeoutMs` passed.
    [[nodiscard]] std::vector<std::uint8_t> read(std::size_t n, int timeoutMs) const;
    // The far end goes away, as an unplugged adaptor does.
    void closeMaster();

private:
    int master_ = -1;
    std::string slave_;
};

}  // namespace varnel::test
