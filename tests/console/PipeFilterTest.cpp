#include "engine/console/OruPipeFilters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using qor::TOruAnsiSBCSPipeFilter;
using qor::TOruPipe;
using qor::TOruPipeFilter;

void put(TOruPipe& pipe, const std::string& s) {
    pipe.WriteBytes(std::vector<std::uint8_t>(s.begin(), s.end()));
}

// A filter on a pipe with its two callbacks recorded.
struct Recorded {
    TOruPipe pipe{true};
    TOruAnsiSBCSPipeFilter filter{&pipe, false};
    std::vector<std::string> texts;
    std::vector<std::string> lines;

    Recorded() {
        filter.setOnText([this](TOruPipeFilter&, const std::string& t) { texts.push_back(t); });
        filter.setOnLineEnd([this](TOruPipeFilter& sender, const std::string& line) {
            EXPECT_EQ(&sender, &filter);
            lines.push_back(line);
        });
    }
    std::vector<std::string> takeLines() { return std::exchange(lines, {}); }
};

struct FilterCase {
    const char* name;
    const char* marker;
    std::vector<std::string> reads;
    std::vector<std::vector<std::string>> linesAfterRead;
    std::vector<std::string> linesAtFlush;
};

void PrintTo(const FilterCase& c, std::ostream* os) {
    *os << c.name;
}

class SBCSFilter : public ::testing::TestWithParam<FilterCase> {};

TEST_P(SBCSFilter, SplitsAtTheMarker) {
    const FilterCase& c = GetParam();
    Recorded r;
    if (c.marker != nullptr) {
        r.filter.setEOLMarker(c.marker);
    }
    std::string allText;
    for (std::size_t i = 0; i < c.reads.size(); ++i) {
        put(r.pipe, c.reads[i]);
        r.filter.ReadPipe();
        EXPECT_EQ(r.takeLines(), c.linesAfterRead[i]) << "after read " << i;
        allText += c.reads[i];
    }
    EXPECT_EQ(r.texts.size(), c.reads.size());
    std::string joined;
    for (const auto& t : r.texts) {
        joined += t;
    }
    EXPECT_EQ(joined, allText);

    r.filter.Flush();
    EXPECT_EQ(r.takeLines(), c.linesAtFlush);
    r.filter.Flush();
    EXPECT_TRUE(r.lines.empty()) << "a second flush has nothing left";
    EXPECT_FALSE(r.filter.HaveUnprocessedData());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SBCSFilter,
    ::testing::Values(
        FilterCase{"LinesInOneRead", nullptr, {"a\r\nb\r\n"}, {{"a", "b"}}, {}},
        FilterCase{"MarkerSplitAcrossReads", nullptr, {"a\r", "\nb"}, {{}, {"a"}}, {"b"}},
        FilterCase{"TwoMarkersInARowGiveAnEmptyLine",
                   nullptr,
                   {"a\r\n\r\n", "\r\nb\r\n"},
                   {{"a", ""}, {"", "b"}},
                   {}},
        FilterCase{"NoMarkerUntilFlush", nullptr, {"abc", "def\r"}, {{}, {}}, {"abcdef\r"}},
        FilterCase{"LoneLineFeedIsText", nullptr, {"a\nb\r\n"}, {{"a\nb"}}, {}},
        FilterCase{"OwnMarker", "\n", {"a\nb\r\n\n"}, {{"a", "b\r", ""}}, {}},
        FilterCase{"EmptyMarkerSplitsNothing", "", {"a\r\nb"}, {{}}, {"a\r\nb"}},
        FilterCase{"BytesAboveAscii", nullptr, {"\xB0\xFF\r\n"}, {{"\xB0\xFF"}}, {}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SBCSFilter, ReadWithNothingWaitingCallsNothing) {
    Recorded r;
    r.filter.ReadPipe();
    put(r.pipe, "x\r\n");
    r.filter.ReadPipe();
    r.filter.ReadPipe();
    EXPECT_EQ(r.texts, std::vector<std::string>{"x\r\n"});
    EXPECT_EQ(r.lines, std::vector<std::string>{"x"});
}

TEST(SBCSFilter, DestroyingFlushesAndFreesAnOwnedPipe) {
    std::vector<std::string> lines;
    auto* filter = new TOruAnsiSBCSPipeFilter(new TOruPipe(true), true);
    filter->setOnLineEnd([&](TOruPipeFilter&, const std::string& l) { lines.push_back(l); });
    put(*filter->Pipe(), "done\r\ntail");
    filter->ReadPipe();
    EXPECT_EQ(lines, std::vector<std::string>{"done"});
    delete filter;  // the leak checker of the sanitizer build sees an unfreed pipe
    EXPECT_EQ(lines, (std::vector<std::string>{"done", "tail"}));
}

TEST(SBCSFilter, CallbackThatRaisesDoesNotSeeTheLineAgain) {
    Recorded r;
    int calls = 0;
    r.filter.setOnLineEnd([&](TOruPipeFilter&, const std::string& line) {
        ++calls;
        if (line == "bad") {
            throw std::runtime_error("refused");
        }
    });
    put(r.pipe, "bad\r\nok\r\n");
    EXPECT_THROW(r.filter.ReadPipe(), std::runtime_error);
    put(r.pipe, "\r\n");
    r.filter.ReadPipe();  // "ok" and the empty line, "bad" not again
    EXPECT_EQ(calls, 3);
}

TEST(SBCSFilterDeathTest, NeedsAPipe) {
    EXPECT_DEATH(TOruAnsiSBCSPipeFilter(nullptr, false), "without a pipe");
}

}  // namespace
