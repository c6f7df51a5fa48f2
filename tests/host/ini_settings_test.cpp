#include <gtest/gtest.h>

#include <sys/stat.h>

#include <tuple>

#include "host/ini_text.h"
#include "host_fixture.h"

namespace varnel::test {
namespace {

using host::iniGet;
using host::iniSet;

const std::string kIni =
    "; host settings\r\n"
    "[Settings]\r\n"
    "gWebSvrPort=80\r\n"
    "\r\n"
    "[hspi_tarnwick]\r\n"
    "comport=3\r\n"
    "  poll_interval = 500  \r\n"
    "odd line without equals\r\n"
    "\r\n"
    "[Other]\r\n"
    "comport=9\r\n";

TEST(IniText, reads_keys_of_the_named_section_only_ignoring_case_and_blanks) {
    struct Case {
        const char* section;
        const char* key;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {"hspi_tarnwick", "comport", "3"},
        {"HSPI_Tarnwick", "COMPORT", "3"},
        {"Other", "comport", "9"},
        {"hspi_tarnwick", "poll_interval", "500"},
        {"hspi_tarnwick", "gWebSvrPort", std::nullopt},
        {"hspi_tarnwick", "odd line without equals", std::nullopt},
        {"missing", "comport", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(iniGet(kIni, c.section, c.key), c.value) << c.section << "/" << c.key;
}

TEST(IniText, a_section_lists_its_entries_in_order_with_repeats_across_its_blocks) {
    const std::string text = kIni + "[hspi_tarnwick]\r\ncomport = \" 2 \"\r\n; comport=7\r\n";
    EXPECT_EQ(host::iniEntries(text, "HSPI_TARNWICK"),
              (std::vector<std::pair<std::string, std::string>>{
                  {"comport", "3"}, {"poll_interval", "500"}, {"comport", " 2 "}}));
    EXPECT_TRUE(host::iniEntries(text, "missing").empty());
}

TEST(IniText, setting_a_key_touches_only_its_line_and_keeps_crlf) {
    const std::string out = iniSet(kIni, "hspi_tarnwick", "comport", "4");
    std::string expected = kIni;
    expected.replace(expected.find("comport=3"), 9, "comport=4");
    EXPECT_EQ(out, expected);
}

TEST(IniText, a_new_key_goes_after_the_last_entry_of_its_section_and_a_new_section_at_the_end) {
    std::string out = iniSet(kIni, "hspi_tarnwick", "reg_moved", "1");
    EXPECT_NE(out.find("odd line without equals\r\nreg_moved=1\r\n\r\n[Other]"), std::string::npos) << out;
    out = iniSet("[a]\nx=1", "b", "y", "2");
    EXPECT_EQ(out, "[a]\nx=1\n\n[b]\ny=2\n") << "a file with LF line ends keeps them";
    EXPECT_EQ(iniSet("[a]\nx=1\ny=2\r\nz=3\n", "a", "x", "4"), "[a]\nx=4\ny=2\nz=3\n") << "most lines decide";
    EXPECT_EQ(iniSet("[a]\r\nx=1\ny=2\r\n", "a", "x", "4"), "[a]\r\nx=4\r\ny=2\r\n");
    EXPECT_EQ(iniSet("", "b", "y", "2"), "[b]\r\ny=2\r\n");
}

TEST(IniText, values_round_trip_exactly_including_blanks_quotes_and_high_bytes) {
    for (const std::string v : {"", "1 ", " 1", "\"quoted\"", "a=b", "x;y", "caf\xe9", "[not a section]"}) {
        const std::string text = iniSet(kIni, "hspi_tarnwick", "showInMenu", v);
        EXPECT_EQ(iniGet(text, "hspi_tarnwick", "showInMenu"), v) << "[" << v << "]";
        EXPECT_EQ(iniGet(text, "Other", "comport"), "9");
    }
}

TEST(IniText, names_and_values_that_cannot_live_on_one_line_are_refused) {
    for (const auto& [section, key, value] :
         {std::tuple{"s", "k", "two\r\nlines"}, std::tuple{"s", "k=v", "1"}, std::tuple{"s", "", "1"},
          std::tuple{"s]", "k", "1"}, std::tuple{"s", "[k", "1"}})
        EXPECT_THROW(iniSet(kIni, section, key, value), std::invalid_argument) << section << "/" << key;
}

TEST(IniText, hostile_text_reads_without_failing_and_stays_editable) {
    for (const std::string& text : {std::string("["), std::string("[]\r\n=\r\n"), std::string("\r\r\r"),
                                    std::string("[hspi_tarnwick\ncomport=1"), std::string("\0[hspi_tarnwick]\0\n", 18),
                                    std::string("[hspi_tarnwick]\ncomport\n=3"), std::string(3000, '[')}) {
        EXPECT_EQ(iniGet(text, "hspi_tarnwick", "comport"), std::nullopt);
        const std::string edited = iniSet(text, "hspi_tarnwick", "comport", "4");
        EXPECT_EQ(iniGet(edited, "hspi_tarnwick", "comport"), "4");
    }
}

TEST(IniText, a_byte_order_mark_is_skipped_and_kept_when_the_file_is_written_again) {
    const std::string mark = "\xEF\xBB\xBF";
    const std::string text = mark + "[hspi_tarnwick]\r\ncomport=3\r\n";
    EXPECT_EQ(iniGet(text, "hspi_tarnwick", "comport"), "3");
    EXPECT_EQ(iniSet(text, "hspi_tarnwick", "comport", "4"), mark + "[hspi_tarnwick]\r\ncomport=4\r\n");
    EXPECT_EQ(iniSet(mark, "s", "k", "v"), mark + "[s]\r\nk=v\r\n");
}

TEST(IniText, no_cr_reaches_a_value_and_cr_only_line_ends_are_read_and_kept) {
    struct Case {
        std::string text;
        std::optional<std::string> value;
        std::string afterSet;  // with k set to "w"
    };
    const Case cases[] = {
        {"[s]\r\nk=secret\r\r\n", "secret", "[s]\r\nk=w\r\n"},
        {"[s]\rk=v\rj=2\r", "v", "[s]\rk=w\rj=2\r"},
        {"[s]\rk=v", "v", "[s]\rk=w\r"},
        {"[s]\nk=a\rb\nj=2\n", std::nullopt, "[s]\nk=a\rb\nj=2\nk=w\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(iniGet(c.text, "s", "k"), c.value) << testing::PrintToString(c.text);
        EXPECT_EQ(iniSet(c.text, "s", "k", "w"), c.afterSet) << testing::PrintToString(c.text);
    }
}

TEST(IniText, ignored_lines_are_named_with_their_numbers) {
    EXPECT_EQ(host::iniProblems(kIni), std::vector<std::string>{"line 8: no \"=\" in the line"});
    EXPECT_EQ(host::iniProblems("[s\r\n=1\r\nk=v\r\nx\ry=1\r\n; fine\r\n\r\n[t]\r\n"),
              (std::vector<std::string>{"line 1: no \"]\" after the section name", "line 2: no key before \"=\"",
                                        "line 4: a CR inside the line"}));
    EXPECT_EQ(host::iniProblems("[s]\rk=v\rjunk\r"), std::vector<std::string>{"line 3: no \"=\" in the line"});
}

TEST(IniSettings, ignored_lines_of_the_settings_file_are_reported_at_the_start) {
    HostFixture fx;
    spit(fx.path("config/settings.ini"), kIni);
    fx.restart();
    EXPECT_NE(slurp(fx.path("logs/host.log"))
                  .find("settings file " + fx.path("config/settings.ini").string() +
                        " line 8: no \"=\" in the line; the line is ignored"),
              std::string::npos)
        << slurp(fx.path("logs/host.log"));
}

TEST(IniSettings, host_calls_round_trip_through_config_settings_ini_preserving_other_content) {
    HostFixture fx;
    spit(fx.path("config/settings.ini"), kIni);
    EmbeddedHost& hs = *fx.host;
    EXPECT_EQ(hs.GetIniSetting("hspi_tarnwick", "comport", "1"), "3");
    EXPECT_EQ(hs.GetIniSetting("hspi_tarnwick", "log_comms", "0"), "0");
    hs.SaveIniSetting("hspi_tarnwick", "comport", "5");
    hs.SaveIniSetting("hspi_tarnwick", "log_comms", "1");
    EXPECT_EQ(hs.GetIniSetting("hspi_tarnwick", "comport", "1"), "5");
    EXPECT_EQ(fx.restart().GetIniSetting("hspi_tarnwick", "log_comms", "0"), "1");
    const std::string text = slurp(fx.path("config/settings.ini"));
    EXPECT_NE(text.find("; host settings\r\n[Settings]\r\ngWebSvrPort=80\r\n"), std::string::npos);
    EXPECT_NE(text.find("[Other]\r\ncomport=9\r\n"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(fx.path("config")), {}), 1) << "no temporary left";
}

TEST(IniSettings, a_save_keeps_links_and_line_ends_and_an_unchanged_file_is_not_written) {
    namespace fs = std::filesystem;
    enum Kind { Plain, Symbolic, Hard };
    const std::string lf = "[hspi_tarnwick]\ncomport=3\n";
    std::string kIni5 = kIni;
    kIni5.replace(kIni5.find("comport=3"), 9, "comport=5");
    const std::tuple<const char*, Kind, std::string, const char*, std::string> cases[] = {
        {"a symbolic link", Symbolic, kIni, "5", kIni5},
        {"a hard link", Hard, kIni, "5", kIni5},
        {"LF line ends", Plain, lf, "4", "[hspi_tarnwick]\ncomport=4\n"},
        {"nothing changed", Plain, lf, "3", lf},
        {"nothing changed in CR LF", Plain, kIni, "3", kIni},
    };
    for (const auto& [what, kind, text, value, expected] : cases) {
        SCOPED_TRACE(what);
        HostFixture fx;
        const fs::path settings = fx.path("config/settings.ini");
        const fs::path file = kind == Plain ? settings : fx.path("shared/real.ini");
        fs::remove(settings);
        spit(file, text);
        if (kind == Symbolic) fs::create_symlink(file, settings);
        if (kind == Hard) fs::create_hard_link(file, settings);
        struct stat before {};
        ::stat(file.c_str(), &before);
        fx.restart().SaveIniSetting("hspi_tarnwick", "comport", value);
        struct stat after {};
        ::stat(file.c_str(), &after);
        EXPECT_EQ(slurp(file) + "|" + slurp(settings), expected + "|" + expected);
        EXPECT_EQ(fs::is_symlink(settings), kind == Symbolic);
        EXPECT_EQ(after.st_nlink, kind == Hard ? 2u : 1u) << "the link stays";
        if (std::string(value) == "3") {
            EXPECT_EQ(after.st_ino, before.st_ino) << "not written again";
            EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        }
    }
}

TEST(IniSettings, settings_file_is_created_empty_unless_told_otherwise) {
    HostFixture with;
    EXPECT_TRUE(std::filesystem::exists(with.path("config/settings.ini")));
    HostFixture without({.createSettingsFile = false});
    EXPECT_FALSE(std::filesystem::exists(without.path("config/settings.ini")));
    EXPECT_EQ(without.host->GetIniSetting("hspi_tarnwick", "reg_moved", "0"), "0");
    without.host->SaveIniSetting("hspi_tarnwick", "reg_moved", "1");
    EXPECT_EQ(slurp(without.path("config/settings.ini")), "[hspi_tarnwick]\r\nreg_moved=1\r\n");
}

TEST(IniSettings, an_unusable_settings_file_stops_the_host_instead_of_falling_back_to_the_per_user_store) {
    // The per-user store is shared by every host directory; nothing may go there instead.
    expectHostRefuses("config/settings.ini",
                      {
                          {"too large", [](const auto& f) { spit(f, std::string(4 * 1024 * 1024 + 1, ';')); },
                           "cannot use the settings: {} is larger than 4 MiB"},
                          {"a directory", [](const auto& f) { std::filesystem::create_directories(f); },
                           "cannot use the settings: cannot read {}: Is a directory"},
                          {"read-only",
                           [](const auto& f) {
                               spit(f, kIni);
                               std::filesystem::permissions(f, std::filesystem::perms::owner_read);
                           },
                           "cannot write {}: no write permission (mode 0400)"},
                      });
}

TEST(IniSettings, an_unstorable_save_is_a_host_error_and_leaves_the_file_alone) {
    HostFixture fx;
    spit(fx.path("config/settings.ini"), kIni);
    EXPECT_THROW(fx.host->SaveIniSetting("hspi_tarnwick", "k", "a\nb"), HostError);
    EXPECT_EQ(slurp(fx.path("config/settings.ini")), kIni);
}

TEST(MoveSettings, copies_every_storable_per_user_key_into_the_host_section) {
    HostFixture fx;
    spit(fx.path("config/settings.ini"), kIni);
    fx.userSettings.set("hspi_tarnwick", "settings", "comport", "7");
    fx.userSettings.set("hspi_tarnwick", "settings", "ProjectFile", " C:\\cmax\\house.prj");
    fx.userSettings.set("hspi_tarnwick", "settings", "bad", "two\nlines");  // skipped, the rest still moves
    fx.userSettings.set("hspi_tarnwick", "Varnel.ini", "comport", "99");
    fx.userSettings.set("other_app", "settings", "comport", "98");
    fx.host->MoveSettings("Software\\VB and VBA Program Settings\\hspi_tarnwick\\Settings", "settings");
    EmbeddedHost& hs = *fx.host;
    EXPECT_EQ(hs.GetIniSetting("hspi_tarnwick", "comport", ""), "7");
    EXPECT_EQ(hs.GetIniSetting("hspi_tarnwick", "ProjectFile", ""), " C:\\cmax\\house.prj");
    EXPECT_EQ(hs.GetIniSetting("hspi_tarnwick", "bad", "absent"), "absent");
    EXPECT_EQ(hs.GetIniSetting("Other", "comport", ""), "9");
    EXPECT_EQ(hs.GetIniSetting("Settings", "gWebSvrPort", ""), "80");
    // A path without the application's name is an error.
    EXPECT_THROW(hs.MoveSettings("Settings", "settings"), HostError);
    EXPECT_THROW(hs.MoveSettings("a\\hspi_tarnwick\\Settings", "elsewhere"), HostError);
}

}  // namespace
}  // namespace varnel::test
