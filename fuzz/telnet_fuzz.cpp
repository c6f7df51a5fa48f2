// A serial server's bytes into the telnet / com-port codec, in segments cut where
// the input says. The line bytes, the answers and the line's state must not depend
// on where the segments were cut, nothing may grow beyond its bound, and what the
// codec encodes it must decode to the same bytes.
#include <cstdint>
#include <span>
#include <vector>

#include "platform/net/telnet.h"

using namespace varnel::net::telnet;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const bool started = (data[0] & 1) != 0;
    const std::size_t cutEvery = (data[0] >> 1) + 1u;
    const std::span<const std::uint8_t> input(data + 1, size - 1);

    Session whole;
    Session cut;
    if (started) {
        (void)whole.start();
        (void)cut.start();
    }
    Session::Output a;
    whole.feed(input, a);
    Session::Output b;
    for (std::size_t at = 0; at < input.size(); at += cutEvery)
        cut.feed(input.subspan(at, std::min(cutEvery, input.size() - at)), b);

    if (a.data != b.data || a.reply != b.reply || whole.line() != cut.line()) __builtin_trap();
    if (a.data.size() > input.size()) __builtin_trap();
    // Each command is answered with at most one command; the settings and the signature go once.
    if (a.reply.size() > input.size() + 64) __builtin_trap();
    if (a.notes.size() > input.size()) __builtin_trap();

    // Line bytes the far end sent, sent back by varnel, read by a far end in the same mode.
    std::vector<std::uint8_t> wire;
    Session plain;
    plain.encode(a.data, wire);
    Session reader;
    Session::Output back;
    reader.feed(wire, back);
    if (back.data != a.data || !back.reply.empty()) __builtin_trap();
    return 0;
}
