#pragma once
// Text from the host's files for JSON and topic names.
#include <string>
#include <string_view>

namespace varnel::bridge {

// UTF-8 as it is; other text is taken as Windows-1252, the code page the host's
// files and the System Map are written in.
std::string toUtf8(std::string_view text);

// Letters, digits, '_' and '-' kept, anything else '_': what Home Assistant takes
// in a discovery topic's object id.
std::string idSafe(std::string_view text);

}  // namespace varnel::bridge
