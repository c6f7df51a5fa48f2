#pragma once
// The single-byte code page of the Leopard screen and of the files shared with Windows
// tools (Windows-1252), and the UTF-8 of terminals, MQTT and the embedded host.
#include <string>
#include <string_view>

namespace varnel {

// UTF-8 as it is; other text is taken as Windows-1252.
std::string toUtf8(std::string_view text);

// One Windows-1252 byte per character: UTF-8 is converted, a character the code page
// does not have becomes 0; text that is not UTF-8 is taken to be in the code page already.
std::string toCodePage(std::string_view text);

struct CodePageText {
    std::string bytes;
    bool complete = true;  // false when a character was replaced by `missing`
};
// As toCodePage, with `missing` for each character the code page lacks.
CodePageText toCodePage(std::string_view text, char missing);

}  // namespace varnel
