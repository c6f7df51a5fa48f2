#pragma once
// Text from the host's files for JSON and topic names.
#include <string>
#include <string_view>

#include "support/codepage.h"

namespace varnel::bridge {

// The host's files and the System Map are written in Windows-1252.
using varnel::toUtf8;

// Letters, digits, '_' and '-' kept, anything else '_': what Home Assistant takes
// in a discovery topic's object id.
std::string idSafe(std::string_view text);

}  // namespace varnel::bridge
