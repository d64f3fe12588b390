#include <gtest/gtest.h>

#include <bit>
#include <regex>

#include "tests/sim/SimHarness.h"

namespace qor::sim::test {
namespace {

// One damaged or lost byte as the transcript names it.
struct LineEvent {
    std::string dir;  // rx or tx
    unsigned index = 0;
    bool lost = false;
    unsigned before = 0;
    unsigned after = 0;
    bool operator==(const LineEvent&) const = default;
};

std::vector<LineEvent> lineEvents(const std::string& transcript) {
    static const std::regex line(
        R"(ev \S+ - line: (rx|tx) byte (\d+) (?:lost ([0-9A-F]{2})|damaged ([0-9A-F]{2}) -> ([0-9A-F]{2})))");
    std::vector<LineEvent> events;
    for (std::sregex_iterator it(transcript.begin(), transcript.end(), line), end; it != end;
         ++it) {
        const std::smatch& m = *it;
        LineEvent e{m[1], static_cast<unsigned>(std::stoul(m[2])), m[3].matched};
        e.before = static_cast<unsigned>(std::stoul(e.lost ? m[3].str() : m[4].str(), nullptr, 16));
        e.after = e.lost ? 0 : static_cast<unsigned>(std::stoul(m[5].str(), nullptr, 16));
        events.push_back(e);
    }
    return events;
}

// Switches the logger to pass-through at 9600 baud, then sends `pings` pings to the module at
// 57600 and reads what comes back; returns the transcript.
std::string pingThrough(const std::vector<std::string>& args, int pings, Bytes& received) {
    RunningSim sim(configFrom(args));
    HostPort host(sim.path(), 9600);
    EXPECT_EQ(host.exchange(kCmd2).size(), 8u);  // the logger's own link is never touched
    host.reopen(57600);
    for (int i = 0; i < pings; ++i) {
        host.write(dfu::slipEncode(Bytes{0x09, static_cast<std::uint8_t>(i)}));
        const Bytes answer = host.read(5, 40ms);
        received.insert(received.end(), answer.begin(), answer.end());
    }
    return sim.finish();
}

TEST(LineFaults, EveryLostOrDamagedByteIsInTheTranscript) {
    {
        // Every byte to the module lost: it hears nothing and answers nothing.
        Bytes received;
        const auto events = lineEvents(pingThrough({"--line-loss", "1"}, 2, received));
        EXPECT_TRUE(received.empty());
        ASSERT_EQ(events.size(), 6u);  // two pings of 3 bytes
        for (unsigned i = 0; i < events.size(); ++i) {
            EXPECT_EQ(events[i].dir, "rx");
            EXPECT_EQ(events[i].index, i);
            EXPECT_TRUE(events[i].lost);
        }
        EXPECT_EQ(events[0].before, 0x09u);
        EXPECT_EQ(events[2].before, 0xC0u);
    }
    {
        // Every byte damaged: each arrives with exactly one bit flipped.
        Bytes received;
        const auto events = lineEvents(pingThrough({"--line-damage", "1"}, 10, received));
        std::size_t rx = 0;
        std::size_t tx = 0;
        for (const LineEvent& e : events) {
            EXPECT_FALSE(e.lost);
            EXPECT_EQ(std::popcount(e.before ^ e.after), 1) << e.dir << " " << e.index;
            (e.dir == "rx" ? rx : tx) += 1;
        }
        EXPECT_EQ(rx, 30u);
        EXPECT_EQ(tx, received.size());  // whatever the module answered came damaged
    }
}

TEST(LineFaults, SameSeedSameFaults) {
    const auto run = [](const char* seed) {
        Bytes received;
        return lineEvents(pingThrough(
            {"--line-damage", "0.05", "--line-loss", "0.05", "--line-seed", seed}, 40, received));
    };
    const auto first = run("7");
    EXPECT_GT(first.size(), 5u);
    EXPECT_EQ(run("7"), first);
    EXPECT_NE(run("8"), first);
}

}  // namespace
}  // namespace qor::sim::test
