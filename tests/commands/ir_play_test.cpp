#include <optional>
#include <tuple>

#include "command_rig.h"
#include "commands/ir.h"
#include "commands/ir_files.h"
#include "commands/queue.h"

namespace varnel {
namespace {

using test::Bytes;

// Every frame is answered 10 ms later; the busy flag is recorded as each goes out.
struct IrCommands : test::CommandTest {
    std::vector<std::int16_t> busyAtWrite;

    IrCommands() {
        far.delayUs = 10'000;
        rig.port.onHostWrite = [this, answer = rig.port.onHostWrite](std::span<const std::uint8_t> frame) {
            busyAtWrite.push_back(rig.ctx.gate.busy);
            answer(frame);
        };
        BuildIRLookup(rig.ctx);
    }
    void modules(std::vector<std::int16_t> addrs) {
        rig.ctx.controller.irModules = std::move(addrs);
        rig.ctx.controller.irModuleCount = static_cast<std::int16_t>(rig.ctx.controller.irModules.size());
        rig.ctx.controller.irModuleFlag = !rig.ctx.controller.irModules.empty();
    }
    // Label index 2 redirected to code location 500.
    void mapTwoTo500() {
        writeLines("irmap.cfg", {"", "", "500"});
        ReadIRMap(rig.ctx);
        BuildIRLookup(rig.ctx);
    }
    // The queue as (command, brightness, data1, data2), oldest first.
    using Queued = std::tuple<std::int16_t, std::int32_t, std::int16_t, std::int16_t>;
    std::vector<Queued> queued() const {
        std::vector<Queued> out;
        const auto& q = rig.ctx.queue;
        for (int i = 0; i < q.count; ++i) {
            const auto& r = q.ring[static_cast<std::size_t>((q.readIndex + i) % CommandQueue::kSize)];
            EXPECT_EQ(r.housecode + r.devicecode, "");
            out.emplace_back(r.command, r.brightness, r.data1, r.data2);
        }
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
        {false, 18, {0x5A, 0x2C, 0x01}}, {true, 0, {0x5A, 0x2C, 0x01}}, {true, 17, {0x5A, 0x2C, 0x01}},
        {true, 16, {0x5C, 0x0A, 15}},    {true, 18, {0x5C, 0x14, 0}},   {true, 35, {0x5C, 0x0A, 1}},
    };
    modules({0x0A, 0x14});
    for (const auto& c : cases) {
        rig.ctx.controller.irModuleFlag = c.zones;
        rig.port.written.clear();
        busyAtWrite.clear();
        playQueuedZone(rig.ctx, 300, c.data1);
        ASSERT_EQ(rig.port.written.size(), 1u) << c.data1;
        const Bytes& f = rig.port.written[0];
        EXPECT_EQ(Bytes(f.begin() + 1, f.begin() + 4), c.head) << "zone " << c.data1;
        if (c.head[0] == 0x5C) {
            EXPECT_EQ(Bytes(f.begin() + 4, f.begin() + 6), (Bytes{0x2C, 0x01})) << c.data1;
        }
        EXPECT_EQ(busyAtWrite, (std::vector<std::int16_t>{1}));
        EXPECT_EQ(rig.ctx.gate.busy, 0);
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
    EXPECT_EQ(rig.ctx.gate.busy, 0);
    EXPECT_EQ(rig.loop.tickMs(), 0);
}

TEST_F(IrCommands, zone_play_with_no_module_list_fails_instead_of_reading_past_it) {
    rig.ctx.controller.irModuleFlag = true;  // flag without any address recorded
    EXPECT_THROW(playQueuedZone(rig.ctx, 300, 3), std::out_of_range);
    EXPECT_EQ(rig.ctx.gate.busy, 0);
}

TEST_F(IrCommands, play_ir_and_play_remote_ir_queue_the_mapped_location) {
    mapTwoTo500();
    rig.ctx.ir.zone = 7;
    PlayIR(rig.ctx, 2);
    PlayIR(rig.ctx, 1023);
    PlayRemoteIR(rig.ctx, 12, 3, 2);
    EXPECT_THROW(PlayIR(rig.ctx, 1024), std::out_of_range);
    EXPECT_THROW(PlayIR(rig.ctx, -1), std::out_of_range);
    EXPECT_THROW(PlayRemoteIR(rig.ctx, 12, 3, 1024), std::out_of_range);
    EXPECT_EQ(queued(), (std::vector<Queued>{{100, 500, 7, 0}, {100, 1023, 7, 0}, {102, 12, 3, 500}}));
}

// Groups: TV zone 0, AMP zone 3, DVD zone 20, VCR zone 40; modules 0x0A and 0x14.
struct IrByName : IrCommands {
    IrByName() {
        std::vector<std::string> lbl(32 + 36 * 4);
        lbl[0] = "TV", lbl[1] = "AMP", lbl[2] = "DVD", lbl[3] = "VCR";
        lbl[32 + 0] = "Power";      // label 0
        lbl[32 + 36 + 1] = "Vol";   // label 37
        lbl[32 + 72 + 2] = "Play";  // label 74
        lbl[32 + 108] = "Eject";    // label 108
        writeLines("irlbl.cfg", lbl);
        writeLines("irzones.cfg", {"0", "3", "20", "40", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0"});
        writeLines("irmap.cfg", {"600"});
        ReadIRMap(rig.ctx);
        BuildIRLookup(rig.ctx);
        SetupIRDictionary(rig.ctx);
        modules({0x0A, 0x14});
        rig.ctx.ir.zone = 4;
    }
    struct Case {
        std::string zone;  // PlayZonedIR's zone; empty: PlayIREx
        std::string loc;
        bool zones;
        std::optional<Queued> queued;  // none: returns 0, queues nothing
    };
    void run(const std::vector<Case>& cases) {
        for (const auto& c : cases) {
            clearQueue(rig.ctx);
            rig.ctx.controller.irModuleFlag = c.zones;
            const auto result = c.zone.empty() ? PlayIREx(rig.ctx, c.loc) : PlayZonedIR(rig.ctx, c.zone, c.loc);
            EXPECT_EQ(result, c.queued ? 1 : 0) << c.zone << " " << c.loc;
            EXPECT_EQ(queued(), c.queued ? std::vector<Queued>{*c.queued} : std::vector<Queued>{})
                << c.zone << " " << c.loc;
        }
    }
};

TEST_F(IrByName, play_ir_ex_resolves_names_numbers_and_dictionary_zones) {
    run({
        {"", "tv power", true, Queued{100, 600, 4, 0}},       // zone 0: plain play in the current zone
        {"", "AMP Vol", true, Queued{102, 0x0A, 3, 37}},      // zone 3 on the first module, output 3
        {"", "DVD Play", true, Queued{102, 0x14, 20, 74}},    // (20 - 1) / 16 = module 1
        {"", "VCR Eject", true, Queued{102, 0x0A, 40, 108}},  // module 2 not found: first module
        {"", "AMP Vol", false, Queued{100, 37, 4, 0}},
        {"", "0", true, Queued{100, 600, 4, 0}},
        {"", "Nope Key", true, std::nullopt},
    });
}

TEST_F(IrByName, play_zoned_ir_takes_the_zone_from_the_caller) {
    run({
        {"3", "12", true, Queued{102, 0x0A, 3, 12}},
        {"20", "0", true, Queued{102, 0x14, 20, 600}},
        {"18", "AMP Vol", true, Queued{102, 0x14, 18, 37}},  // the name's own zone 3 is not used
        {"0", "DVD Play", true, Queued{100, 74, 4, 0}},
        {"x", "AMP Vol", true, std::nullopt},
        {"3", "Nope Key", true, std::nullopt},
    });
}

TEST_F(IrByName, malformed_dictionary_values_play_nothing) {
    for (const std::string value : {"5", "x,1", "1,y"}) {
        rig.ctx.ir.dictionary["BAD KEY"] = value;
        run({{"", "Bad Key", true, std::nullopt}});
    }
}

TEST_F(IrByName, numbers_that_do_not_fit_reach_the_caller_and_queue_nothing) {
    EXPECT_THROW(PlayIREx(rig.ctx, "2000"), std::out_of_range);
    EXPECT_THROW(PlayIREx(rig.ctx, "1e12"), std::overflow_error);
    EXPECT_THROW(PlayZonedIR(rig.ctx, "x", "12"), std::invalid_argument);
    EXPECT_THROW(PlayZonedIR(rig.ctx, "3", "abc"), std::invalid_argument);
    EXPECT_THROW(PlayZonedIR(rig.ctx, "3", "5000"), std::out_of_range);
    EXPECT_TRUE(queued().empty());
}

TEST_F(IrCommands, learn_start_sends_mapped_location_without_touching_busy) {
    mapTwoTo500();
    LearnIRStart(rig.ctx, 2);
    EXPECT_EQ(rig.port.written, (std::vector<Bytes>{{0xC8, 0x5B, 0xF4, 0x01, 0x78, 0, 0, 0x90}}));
    EXPECT_EQ(busyAtWrite, (std::vector<std::int16_t>{0}));
    EXPECT_EQ(rig.port.bytesWaiting(), 0u);

    LearnIRStart(rig.ctx, 1024);
    EXPECT_EQ(rig.port.written.size(), 1u);
    EXPECT_EQ(logged(), (test::Lines{"Varnel: LearnIRStart 1 Subscript out of range"}));
}

TEST_F(IrCommands, learn_end_waits_fifteen_seconds_or_until_the_ir_report) {
    const std::vector<std::pair<std::optional<Bytes>, std::int64_t>> cases{
        {std::nullopt, 15'000}, {Bytes{0xFD, 0x00, 0x07}, 3'000}, {Bytes{0x06, 0x00, 0x06}, 3'000}};
    rig.ctx.link.responseTimeout = 1;  // not used for the learn wait
    rig.ctx.link.recognition = true;
    for (const auto& [report, waitedMs] : cases) {
        Bool16 duringWait = 0;
        rig.loop.postUs(1'000'000, [&] { duringWait = rig.ctx.link.learning; });
        if (report) rig.port.deliver(*report, 3'000'000);
        const auto start = rig.loop.tickMs();
        LearnIREnd(rig.ctx);
        EXPECT_EQ(rig.loop.tickMs() - start, waitedMs);
        EXPECT_EQ(duringWait, kTrue);
        EXPECT_EQ(rig.ctx.link.learning, kFalse);
    }
    EXPECT_TRUE(rig.callback->ir.empty()) << "the learn report is not an IR match";
    rig.port.close();
    const auto start = rig.loop.tickMs();
    LearnIREnd(rig.ctx);
    EXPECT_EQ(rig.loop.tickMs(), start) << "closed port: no wait";
}

TEST_F(IrCommands, learn_prompt_starts_asks_waits_beeps_under_busy) {
    std::size_t framesAtBox = 0;
    std::int64_t boxAt = -1;
    rig.prompts.sink = [&](const std::string&) {
        framesAtBox = rig.port.written.size();
        boxAt = rig.loop.tickMs();
        busyAtWrite.push_back(rig.ctx.gate.busy);
    };
    learnIRPrompt(rig.ctx, 5);
    ASSERT_EQ(rig.prompts.shown.size(), 1u);
    EXPECT_NE(rig.prompts.shown[0].text.find("location:  5\r\n"), std::string::npos) << "names the location";
    EXPECT_EQ(rig.prompts.shown[0].style, PromptStyle::Information);
    EXPECT_EQ(framesAtBox, 1u) << "learn start goes out before the box";
    EXPECT_EQ(busyAtWrite, (std::vector<std::int16_t>{1, 1}));
    EXPECT_EQ(rig.port.written[0], (Bytes{0xC8, 0x5B, 0x05, 0x00, 0x78, 0x00, 0x00, 0xA0}));
    EXPECT_EQ(rig.loop.tickMs() - boxAt, 15'000) << "then the learn wait";
    EXPECT_EQ(rig.prompts.beeps, 1);
    EXPECT_EQ(rig.ctx.gate.busy, 0);
}

}  // namespace
}  // namespace varnel
