// The settings file's text: a save must change its one line and keep everything else.
#include <gtest/gtest.h>

#include "host/ini_text.h"

namespace varnel::host {
namespace {

const std::string kIni =
    "; host settings\r\n[Settings]\r\ngWebSvrPort=80\r\n\r\n[hspi_tarnwick]\r\ncomport=3\r\n"
    "  poll_interval = 500  \r\nodd line without equals\r\n\r\n[Other]\r\ncomport=9\r\n";

TEST(IniText, reads_keys_of_the_named_section_only) {
    const std::tuple<std::string, const char*, const char*, std::optional<std::string>> cases[] = {
        {kIni, "HSPI_Tarnwick", "COMPORT", "3"},
        {kIni, "hspi_tarnwick", "poll_interval", "500"},
        {kIni, "hspi_tarnwick", "gWebSvrPort", std::nullopt},
        {kIni, "hspi_tarnwick", "odd line without equals", std::nullopt},
        {"\xEF\xBB\xBF[s]\r\nk=3\r\n", "s", "k", "3"},
        {"[s]\r\nk=secret\r\r\n", "s", "k", "secret"},  // no CR reaches a value
        {"[s]\rk=v\rj=2\r", "s", "k", "v"},
        {"[s]\nk=a\rb\n", "s", "k", std::nullopt},
    };
    for (const auto& [text, section, key, value] : cases) EXPECT_EQ(iniGet(text, section, key), value) << text;
    EXPECT_EQ(iniEntries(kIni + "[hspi_tarnwick]\r\ncomport = \" 2 \"\r\n", "hspi_tarnwick"),
              (std::vector<std::pair<std::string, std::string>>{
                  {"comport", "3"}, {"poll_interval", "500"}, {"comport", " 2 "}}));
}

TEST(IniText, a_set_touches_only_its_line_and_keeps_line_ends_and_a_byte_order_mark) {
    std::string replaced = kIni;
    replaced.replace(replaced.find("comport=3"), 9, "comport=4");
    std::string added = kIni;
    added.insert(added.find("\r\n[Other]"), "reg_moved=1\r\n");
    const std::tuple<std::string, const char*, const char*, std::string> cases[] = {
        {kIni, "comport", "4", replaced},
        {kIni, "reg_moved", "1", added},
        {"[a]\nx=1", "k", "2", "[a]\nx=1\n\n[hspi_tarnwick]\nk=2\n"},
        {"[hspi_tarnwick]\nk=1\ny=2\r\nz=3\n", "k", "4", "[hspi_tarnwick]\nk=4\ny=2\nz=3\n"},  // most lines decide
        {"", "k", "2", "[hspi_tarnwick]\r\nk=2\r\n"},
        {"\xEF\xBB\xBF[hspi_tarnwick]\r\nk=3\r\n", "k", "4", "\xEF\xBB\xBF[hspi_tarnwick]\r\nk=4\r\n"},
        {"[hspi_tarnwick]\rk=v\rj=2\r", "k", "w", "[hspi_tarnwick]\rk=w\rj=2\r"},
        {"[hspi_tarnwick]\r\nk=secret\r\r\n", "k", "w", "[hspi_tarnwick]\r\nk=w\r\n"},
        {"[hspi_tarnwick]\nk=a\rb\nj=2\n", "k", "w", "[hspi_tarnwick]\nk=a\rb\nj=2\nk=w\n"},
    };
    for (const auto& [text, key, value, expected] : cases)
        EXPECT_EQ(iniSet(text, "hspi_tarnwick", key, value), expected) << testing::PrintToString(text);
    for (const std::string v : {"", " 1 ", "\"quoted\"", "a=b", "x;y", "caf\xe9", "[not a section]"})
        EXPECT_EQ(iniGet(iniSet(kIni, "hspi_tarnwick", "k", v), "hspi_tarnwick", "k"), v) << "[" << v << "]";
}

TEST(IniText, what_cannot_live_on_one_line_is_refused_and_hostile_text_stays_editable) {
    for (const auto& [section, key, value] : {std::tuple{"s", "k", "two\r\nlines"}, std::tuple{"s", "k=v", "1"},
                                              std::tuple{"s", "", "1"}, std::tuple{"s]", "k", "1"}})
        EXPECT_THROW(iniSet(kIni, section, key, value), std::invalid_argument) << section << "/" << key;
    for (const std::string& text : {std::string("["), std::string("[]\r\n=\r\n"), std::string("\r\r\r"),
                                    std::string("\0[hspi_tarnwick]\0\n", 18), std::string(3000, '[')}) {
        EXPECT_EQ(iniGet(text, "hspi_tarnwick", "comport"), std::nullopt);
        EXPECT_EQ(iniGet(iniSet(text, "hspi_tarnwick", "comport", "4"), "hspi_tarnwick", "comport"), "4");
    }
    EXPECT_EQ(iniProblems("[s\r\n=1\r\nk=v\r\nx\ry=1\r\n; fine\r\n\r\n[t]\r\nodd\r\n"),
              (std::vector<std::string>{"line 1: no \"]\" after the section name", "line 2: no key before \"=\"",
                                        "line 4: a CR inside the line", "line 8: no \"=\" in the line"}));
}

}  // namespace
}  // namespace varnel::host
