// Arbitrary controller bytes straight into the report reader, with a reply
// awaited or not and the stream cut wherever the input says. Whatever comes
// out must be a whole report or reply of the promised length.
#include <cstdint>

#include "link/reports.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    ReportReader reader;
    const std::size_t replyLength = static_cast<std::size_t>(data[1]) * 2 + (data[0] & 1);
    if ((data[0] & 2) != 0) reader.expectReply(replyLength, data[2]);
    const std::uint8_t cutEvery = data[0] >> 2;  // 0: never
    std::size_t fed = 0;
    for (std::size_t i = 3; i < size; ++i) {
        using Step = ReportReader::Step;
        switch (reader.feed(data[i])) {
            case Step::Report: {
                const auto& r = reader.report();
                if (r.length == 0 || r.length > r.bytes.size() || reportLength(r.bytes[0]) != r.length)
                    __builtin_trap();
                break;
            }
            case Step::Reply:
                if (reader.reply().empty() || reader.reply().size() > ReportReader::kMaxReply) __builtin_trap();
                break;
            default: break;
        }
        if (cutEvery != 0 && ++fed % cutEvery == 0) reader.abandon();
    }
    reader.abandon();
    if (reader.midRead()) __builtin_trap();
    return 0;
}
