#pragma once
// Text from outside (device names, file lines, MQTT payloads, device paths) made safe
// to show or log. Valid UTF-8 passes as it is; control characters and bytes that are
// not UTF-8 become escapes: \t, \n, \r, \xNN for a byte, \u0085 for a C1 control. One
// line stays one line and a terminal shows what is there instead of obeying it.
// Backslashes are left alone, so escaping escaped text changes nothing: every output
// edge may escape without knowing whether an earlier one did.
#include <cstddef>
#include <string>
#include <string_view>

namespace varnel {

std::string escaped(std::string_view text);

// The same for at most the first `maxBytes` bytes of `text` (never cutting a character
// in two); "..." marks a cut.
std::string escaped(std::string_view text, std::size_t maxBytes);

}  // namespace varnel
