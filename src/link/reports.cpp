#include "link/reports.h"

#include <algorithm>

namespace varnel {

namespace {
ReportKind kindOf(std::uint8_t first) {
    switch (first) {
        case 0xFE: return ReportKind::X10Received;
        case 0xFB: return ReportKind::X10Sent;
        case 0xFD: return ReportKind::IrMatch;
        case 0xF0: return ReportKind::IoChange;
        case 0xF2:
        case 0xF3: return ReportKind::LeopardTouch;
        case 0xFC: return ReportKind::Ignored;
        default: return ReportKind::Filler;
    }
}
}  // namespace

void ReportReader::expectReply(std::size_t length, std::uint8_t first) {
    replyLength_ = std::clamp<std::size_t>(length, 1, kMaxReply);
    replyFirst_ = first;
}

void ReportReader::expectNoReply() { replyLength_ = 0; }

ReportReader::Step ReportReader::feed(std::uint8_t byte) {
    if (part_.empty()) {
        // Report codes are tested first, so a reply never begins with one.
        if (reportLength(byte) > 0) {
            inReply_ = false;
        } else if (replyLength_ > 0 && (replyFirst_ == 0 || byte == replyFirst_)) {
            inReply_ = true;
        } else {
            ++stray_;
            return Step::Dropped;
        }
    }
    part_.push_back(byte);
    if (inReply_) {
        if (part_.size() < replyLength_) return Step::More;
        reply_.swap(part_);
        part_.clear();
        inReply_ = false;
        return Step::Reply;
    }
    const auto length = static_cast<std::size_t>(reportLength(part_.front()));
    if (part_.size() < length) return Step::More;
    report_ = ControllerReport{};
    report_.kind = kindOf(part_.front());
    report_.length = static_cast<std::uint8_t>(length);
    std::copy(part_.begin(), part_.end(), report_.bytes.begin());
    part_.clear();
    return Step::Report;
}

ReportReader::Step ReportReader::abandon() {
    if (part_.empty()) return Step::More;
    // A report cut short would hand on a value that was never sent.
    const Step cut = inReply_ ? Step::ReplyCut : Step::ReportCut;
    part_.clear();
    inReply_ = false;
    ++broken_;
    return cut;
}

}  // namespace varnel
