#include "bridge/text.h"

namespace varnel::bridge {

std::string idSafe(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!ok) c = '_';
    }
    return out;
}

}  // namespace varnel::bridge
