#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "commands/ir.h"
#include "commands/ir_files.h"
#include "commands/queue.h"
#include "rig.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes bytes(const CommandFrame& f) { return Bytes(f.begin(), f.end()); }

TEST(IrFrames, frames_carry_location_bytes_and_zero_what_does_not_fit) {
    struct Case {
        const char* name;
        CommandFrame frame;
        Bytes expected;
    };
    const std::vector<Case> cases{
        {"local 300", localPlayFrame(300), {0xC8, 0x5A, 0x2C, 0x01, 0, 0, 0, 0x4F}},
        {"local 0", localPlayFrame(0), {0xC8, 0x5A, 0, 0, 0, 0, 0, 0x22}},
        {"local past 16 bits", localPlayFrame(70000), {0xC8, 0x5A, 0x70, 0, 0, 0, 0, 0x92}},
        {"local negative", localPlayFrame(-1), {0xC8, 0x5A, 0, 0, 0, 0, 0, 0x22}},
        {"remote 300", remotePlayFrame(5, 3, 300), {0xC8, 0x5C, 5, 3, 0x2C, 0x01, 0, 0x59}},
        {"remote 255", remotePlayFrame(5, 3, 255), {0xC8, 0x5C, 5, 3, 0xFF, 0, 0, 0x2B}},
        {"remote module too big", remotePlayFrame(300, 3, 256), {0xC8, 0x5C, 0, 3, 0, 0x01, 0, 0x28}},
        {"learn 300", learnStartFrame(300), {0xC8, 0x5B, 0x2C, 0x01, 0x78, 0, 0, 0xC8}},
    };
    for (const auto& c : cases) EXPECT_EQ(bytes(c.frame), c.expected) << c.name;
}

TEST(IrFrames, host_zones_map_to_controller_or_module_outputs) {
    struct Case {
        std::int32_t zone;
        ZoneTarget target;
    };
    const std::vector<Case> cases{
        {-5, {true, 0, 0}},   {0, {true, 0, 0}},   {17, {true, 0, 0}},   {1, {false, 0, 0}},
        {16, {false, 0, 15}}, {18, {false, 1, 0}}, {33, {false, 1, 15}}, {34, {false, 2, 0}},
    };
    for (const auto& c : cases) {
        const ZoneTarget t = hostZoneTarget(c.zone);
        EXPECT_EQ(t.local, c.target.local) << c.zone;
        if (!t.local) {
            EXPECT_EQ(t.moduleIndex, c.target.moduleIndex) << c.zone;
            EXPECT_EQ(t.output, c.target.output) << c.zone;
        }
    }
}

struct IrCommands : ::testing::Test {
    test::Rig rig;
    std::vector<std::int16_t> busyAtWrite;

    IrCommands() {
        rig.ctx.link.portOpen = true;
        (void)rig.port.open("COM1");
        rig.port.onHostWrite = [this](std::span<const std::uint8_t>) {
            busyAtWrite.push_back(rig.ctx.link.busy);
            rig.port.deliver({0x06, 0x00, 0x06}, 10'000);
        };
        BuildIRLookup(rig.ctx);
    }
    void modules(std::vector<std::int16_t> addrs) {
        rig.ctx.controller.irModules = std::move(addrs);
        rig.ctx.controller.irModuleCount = static_cast<std::int16_t>(rig.ctx.controller.irModules.size());
        rig.ctx.controller.irModuleFlag = !rig.ctx.controller.irModules.empty();
    }
    void writeLines(const std::string& name, const std::vector<std::string>& lines) const {
        fs::create_directories(rig.dir.path() / "config");
        std::ofstream out(rig.dir.path() / "config" / name, std::ios::binary);
        for (const auto& l : lines) out << l << "\r\n";
    }
    std::vector<QueueRecord> queued() const {
        std::vector<QueueRecord> out;
        const auto& q = rig.ctx.queue;
        for (int i = 0; i < q.count; ++i)
            out.push_back(q.ring[static_cast<std::size_t>((q.readIndex + i) % CommandQueue::kSize)]);
        return out;
    }
};

TEST_F(IrCommands, queued_zone_play_follows_zone_rules_with_module_fallback) {
    struct Case {
        bool zones;
        std::int16_t data1;
        Bytes head;  // bytes 1..3 of the frame sent
    };
    const std::vector<Case> cases{
        {false, 5, {0x5A, 0x2C, 0x01}}, {false, 18, {0x5A, 0x2C, 0x01}}, {true, 0, {0x5A, 0x2C, 0x01}},
        {true, -3, {0x5A, 0x2C, 0x01}}, {true, 17, {0x5A, 0x2C, 0x01}},  {true, 1, {0x5C, 0x0A, 0}},
        {true, 16, {0x5C, 0x0A, 15}},   {true, 18, {0x5C, 0x14, 0}},     {true, 33, {0x5C, 0x14, 15}},
        {true, 34, {0x5C, 0x0A, 0}},    {true, 35, {0x5C, 0x0A, 1}},     {true, 32767, {0x5C, 0x0A, 13}},
    };
    for (const auto& c : cases) {
        modules({0x0A, 0x14});
        rig.ctx.controller.irModuleFlag = c.zones;
        rig.port.written.clear();
        busyAtWrite.clear();
        playQueuedZone(rig.ctx, 300, c.data1);
        ASSERT_EQ(rig.port.written.size(), 1u) << c.data1;
        const Bytes& f = rig.port.written[0];
        ASSERT_EQ(f.size(), 8u);
        EXPECT_EQ(Bytes(f.begin() + 1, f.begin() + 4), c.head) << "zone " << c.data1;
        if (c.head[0] == 0x5C) {
            EXPECT_EQ(Bytes(f.begin() + 4, f.begin() + 6), (Bytes{0x2C, 0x01})) << c.data1;
        }
        EXPECT_EQ(busyAtWrite, (std::vector<std::int16_t>{1}));
        EXPECT_EQ(rig.ctx.link.busy, 0);
        EXPECT_EQ(rig.port.bytesWaiting(), 0u) << "reply consumed";
    }
}

TEST_F(IrCommands, plays_with_port_closed_send_nothing_and_release_busy) {
    rig.port.close();
    modules({0x0A});
    localPlay(rig.ctx, 300);
    remotePlay(rig.ctx, 0x0A, 1, 300);
    playQueuedZone(rig.ctx, 300, 3);
    EXPECT_TRUE(rig.port.written.empty());
    EXPECT_EQ(rig.ctx.link.busy, 0);
    EXPECT_EQ(rig.loop.tickMs(), 0);
}

TEST_F(IrCommands, unanswered_play_waits_the_response_timeout_then_goes_on) {
    rig.port.onHostWrite = nullptr;
    rig.ctx.link.responseTimeout = 2;
    remotePlay(rig.ctx, 0x0A, 1, 300);
    EXPECT_EQ(rig.loop.tickMs(), 2000);
    EXPECT_EQ(rig.ctx.link.busy, 0);
    EXPECT_TRUE(rig.host->log.empty());
}

TEST_F(IrCommands, zone_play_with_no_module_list_fails_instead_of_reading_past_it) {
    rig.ctx.controller.irModuleFlag = true;  // flag without any address recorded
    EXPECT_THROW(playQueuedZone(rig.ctx, 300, 3), std::out_of_range);
    EXPECT_EQ(rig.ctx.link.busy, 0);
}

TEST_F(IrCommands, play_ir_queues_mapped_location_in_current_zone) {
    writeLines("irmap.cfg", {"", "", "500"});
    ReadIRMap(rig.ctx);
    BuildIRLookup(rig.ctx);
    rig.ctx.ir.zone = 7;
    PlayIR(rig.ctx, 2);
    PlayIR(rig.ctx, 1023);
    const auto q = queued();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0].command, 100);
    EXPECT_EQ(q[0].brightness, 500);
    EXPECT_EQ(q[0].data1, 7);
    EXPECT_EQ(q[0].data2, 0);
    EXPECT_EQ(q[0].housecode, "");
    EXPECT_EQ(q[0].devicecode, "");
    EXPECT_EQ(q[1].brightness, 1023);

    EXPECT_THROW(PlayIR(rig.ctx, 1024), std::out_of_range);
    EXPECT_THROW(PlayIR(rig.ctx, -1), std::out_of_range);
    EXPECT_EQ(queued().size(), 2u);
}

TEST_F(IrCommands, play_remote_ir_queues_module_output_and_mapped_location) {
    writeLines("irmap.cfg", {"", "", "500"});
    ReadIRMap(rig.ctx);
    BuildIRLookup(rig.ctx);
    PlayRemoteIR(rig.ctx, 12, 3, 2);
    const auto q = queued();
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].command, 102);
    EXPECT_EQ(q[0].brightness, 12);
    EXPECT_EQ(q[0].data1, 3);
    EXPECT_EQ(q[0].data2, 500);
    EXPECT_THROW(PlayRemoteIR(rig.ctx, 12, 3, 1024), std::out_of_range);
}

// Groups: TV zone 0, AMP zone 3, DVD zone 20, VCR zone 40; modules 0x0A and 0x14.
struct IrByName : IrCommands {
    IrByName() {
        std::vector<std::string> lbl(32 + 36 * 4);
        lbl[0] = "TV";
        lbl[1] = "AMP";
        lbl[2] = "DVD";
        lbl[3] = "VCR";
        lbl[32 + 0] = "Power";      // label 0
        lbl[32 + 36 + 1] = "Vol";   // label 37
        lbl[32 + 72 + 2] = "Play";  // label 74
        lbl[32 + 108] = "Eject";    // label 108
        writeLines("irlbl.cfg", lbl);
        std::vector<std::string> zones(14, "0");
        zones[1] = "3";
        zones[2] = "20";
        zones[3] = "40";
        writeLines("irzones.cfg", zones);
        writeLines("irmap.cfg", {"600"});
        ReadIRMap(rig.ctx);
        BuildIRLookup(rig.ctx);
        SetupIRDictionary(rig.ctx);
        modules({0x0A, 0x14});
    }
    struct Expect {
        std::int16_t command;
        std::int32_t brightness;
        std::int16_t data1;
        std::int16_t data2;
    };
    void expectOne(const Expect& e, const std::string& what) {
        const auto q = queued();
        ASSERT_EQ(q.size(), 1u) << what;
        EXPECT_EQ(q[0].command, e.command) << what;
        EXPECT_EQ(q[0].brightness, e.brightness) << what;
        EXPECT_EQ(q[0].data1, e.data1) << what;
        EXPECT_EQ(q[0].data2, e.data2) << what;
    }
};

TEST_F(IrByName, play_ir_ex_resolves_names_numbers_and_dictionary_zones) {
    struct Case {
        std::string loc;
        bool zones;
        std::int16_t result;
        std::optional<Expect> queued;
    };
    const std::vector<Case> cases{
        {"TV Power", true, 1, Expect{100, 600, 4, 0}},  // zone 0: plain play in the current zone
        {"tv power", true, 1, Expect{100, 600, 4, 0}},
        {"AMP Vol", true, 1, Expect{102, 0x0A, 3, 37}},      // zone 3 on the first module, output 3
        {"DVD Play", true, 1, Expect{102, 0x14, 20, 74}},    // (20 - 1) / 16 = module 1
        {"VCR Eject", true, 1, Expect{102, 0x0A, 40, 108}},  // module 2 not found: first module
        {"AMP Vol", false, 1, Expect{100, 37, 4, 0}},
        {"12", true, 1, Expect{100, 12, 4, 0}},
        {"0", true, 1, Expect{100, 600, 4, 0}},
        {"Nope Key", true, 0, std::nullopt},
        {"TV", true, 0, std::nullopt},
        {"abc", true, 0, std::nullopt},
        {"", true, 0, std::nullopt},
    };
    rig.ctx.ir.zone = 4;
    for (const auto& c : cases) {
        clearQueue(rig.ctx);
        rig.ctx.controller.irModuleFlag = c.zones;
        EXPECT_EQ(PlayIREx(rig.ctx, c.loc), c.result) << c.loc;
        if (c.queued)
            expectOne(*c.queued, c.loc);
        else
            EXPECT_TRUE(queued().empty()) << c.loc;
    }
}

TEST_F(IrByName, malformed_dictionary_values_play_nothing) {
    for (const std::string value : {"5", "x,1", "1,2,3", "1,y", ""}) {
        clearQueue(rig.ctx);
        rig.ctx.ir.dictionary["BAD KEY"] = value;
        EXPECT_EQ(PlayIREx(rig.ctx, "Bad Key"), 0) << value;
        EXPECT_TRUE(queued().empty()) << value;
    }
}

TEST_F(IrByName, play_ir_ex_errors_reach_the_caller_and_queue_nothing) {
    EXPECT_THROW(PlayIREx(rig.ctx, "2000"), std::out_of_range);
    EXPECT_THROW(PlayIREx(rig.ctx, "1e12"), std::overflow_error);
    EXPECT_TRUE(queued().empty());
}

TEST_F(IrByName, play_zoned_ir_takes_the_zone_from_the_caller) {
    struct Case {
        std::string zone;
        std::string loc;
        bool zones;
        std::int16_t result;
        std::optional<Expect> queued;
    };
    const std::vector<Case> cases{
        {"0", "12", true, 1, Expect{100, 12, 4, 0}},
        {"3", "12", true, 1, Expect{102, 0x0A, 3, 12}},
        {"20", "0", true, 1, Expect{102, 0x14, 20, 600}},
        {"18", "AMP Vol", true, 1, Expect{102, 0x14, 18, 37}},  // the name's own zone 3 is not used
        {"0", "DVD Play", true, 1, Expect{100, 74, 4, 0}},
        {"3", "12", false, 1, Expect{100, 12, 4, 0}},
        {"99", "12", true, 1, Expect{102, 0x0A, 99, 12}},
        {"x", "AMP Vol", true, 0, std::nullopt},
        {"3", "Nope Key", true, 0, std::nullopt},
    };
    rig.ctx.ir.zone = 4;
    for (const auto& c : cases) {
        clearQueue(rig.ctx);
        rig.ctx.controller.irModuleFlag = c.zones;
        EXPECT_EQ(PlayZonedIR(rig.ctx, c.zone, c.loc), c.result) << c.zone << " " << c.loc;
        if (c.queued)
            expectOne(*c.queued, c.zone + " " + c.loc);
        else
            EXPECT_TRUE(queued().empty()) << c.zone << " " << c.loc;
    }
}

TEST_F(IrByName, play_zoned_ir_rejects_non_numbers_where_a_number_is_needed) {
    EXPECT_THROW(PlayZonedIR(rig.ctx, "x", "12"), std::invalid_argument);
    EXPECT_THROW(PlayZonedIR(rig.ctx, "3", "abc"), std::invalid_argument);
    EXPECT_THROW(PlayZonedIR(rig.ctx, "3", "5000"), std::out_of_range);
    EXPECT_TRUE(queued().empty());
}

TEST_F(IrCommands, learn_start_sends_mapped_location_without_touching_busy) {
    writeLines("irmap.cfg", {"", "", "500"});
    ReadIRMap(rig.ctx);
    BuildIRLookup(rig.ctx);
    LearnIRStart(rig.ctx, 2);
    ASSERT_EQ(rig.port.written.size(), 1u);
    EXPECT_EQ(rig.port.written[0], (Bytes{0xC8, 0x5B, 0xF4, 0x01, 0x78, 0, 0, 0x90}));
    EXPECT_EQ(busyAtWrite, (std::vector<std::int16_t>{0}));
    EXPECT_EQ(rig.port.bytesWaiting(), 0u);
}

TEST_F(IrCommands, learn_start_outside_the_table_is_reported_and_sends_nothing) {
    LearnIRStart(rig.ctx, 1024);
    EXPECT_TRUE(rig.port.written.empty());
    ASSERT_EQ(rig.host->log.size(), 1u);
    EXPECT_EQ(rig.host->log[0].second, "LearnIRStart 1 Subscript out of range");

    rig.port.close();
    LearnIRStart(rig.ctx, 2);
    EXPECT_TRUE(rig.port.written.empty());
}

TEST_F(IrCommands, learn_end_waits_fifteen_seconds_or_until_the_ir_report) {
    struct Case {
        const char* name;
        std::optional<Bytes> report;  // arrives 3 s into the wait
        std::int64_t waitedMs;
    };
    const std::vector<Case> cases{
        {"silence", std::nullopt, 15'000},
        {"ir report", Bytes{0xFD, 0x00, 0x07}, 3'000},
        {"plain reply", Bytes{0x06, 0x00, 0x06}, 3'000},
    };
    rig.ctx.link.responseTimeout = 1;  // not used for the learn wait
    rig.ctx.link.recognition = true;
    for (const auto& c : cases) {
        Bool16 duringWait = 0;
        rig.loop.postUs(1'000'000, [&] { duringWait = rig.ctx.link.learning; });
        if (c.report) rig.port.deliver(*c.report, 3'000'000);
        const auto start = rig.loop.tickMs();
        LearnIREnd(rig.ctx);
        EXPECT_EQ(rig.loop.tickMs() - start, c.waitedMs) << c.name;
        EXPECT_EQ(duringWait, kTrue) << c.name;
        EXPECT_EQ(rig.ctx.link.learning, kFalse) << c.name;
    }
    EXPECT_TRUE(rig.callback->ir.empty()) << "the learn report is not an IR match";
}

TEST_F(IrCommands, learn_end_with_port_closed_returns_at_once) {
    rig.port.close();
    LearnIREnd(rig.ctx);
    EXPECT_EQ(rig.loop.tickMs(), 0);
    EXPECT_EQ(rig.ctx.link.learning, kFalse);
}

TEST_F(IrCommands, learn_prompt_starts_asks_waits_beeps_under_busy) {
    struct Seen {
        std::size_t framesSent;
        std::int16_t busy;
        std::int64_t at;
    };
    std::vector<Seen> seen;
    rig.prompts.sink = [&](const std::string&) {
        seen.push_back({rig.port.written.size(), rig.ctx.link.busy, rig.loop.tickMs()});
    };
    learnIRPrompt(rig.ctx, 5);
    ASSERT_EQ(rig.prompts.shown.size(), 1u);
    EXPECT_EQ(rig.prompts.shown[0].text,
              "Point orignal remote at input window on the Ocelot and press the key you wish to learn.\r\n"
              "Key will be learned in Ocelot location:  5\r\n"
              "Press OK to start learning.");
    EXPECT_EQ(rig.prompts.shown[0].style, PromptStyle::Information);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].framesSent, 1u) << "learn start goes out before the box";
    EXPECT_EQ(seen[0].busy, 1);
    EXPECT_EQ(rig.port.written[0], bytes(learnStartFrame(5)));
    EXPECT_EQ(rig.loop.tickMs() - seen[0].at, 15'000) << "then the learn wait";
    EXPECT_EQ(rig.prompts.beeps, 1);
    EXPECT_EQ(rig.ctx.link.busy, 0);
}

}  // namespace
}  // namespace varnel
