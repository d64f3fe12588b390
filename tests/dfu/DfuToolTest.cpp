#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "tests/dfu/DfuTestSupport.h"
#include "tests/dfu/ScriptedBootloader.h"
#include "tools/dfu/DfuTool.h"

namespace qor::dfu {
namespace {

using test::BootloaderScript;
using test::Bytes;
using test::ScriptedBootloader;
using Lines = std::vector<std::string>;

class DfuTool : public ::testing::Test {
  protected:
    DfuTool() {
        dir_ = std::filesystem::temp_directory_path() /
               ("qor dfu tool " + std::to_string(::getpid()) + " " +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    ~DfuTool() override { std::filesystem::remove_all(dir_); }

    std::string writePackage(const Bytes& zip, const std::string& name = "pkg with blank.zip") {
        const auto path = dir_ / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(zip.data()),
                   static_cast<std::streamsize>(zip.size()));
        return path.string();
    }

    int run(const std::vector<std::string>& args, DfuOptions options = test::quickDfuOptions()) {
        lines_.clear();
        return runDfuTool(
            args, [this](const std::string& line) { lines_.push_back(line); }, options);
    }

    int runPackage(const Bytes& zip, DfuOptions options = test::quickDfuOptions()) {
        return run({"--qor", "-cd", "0", "-p", peer_.path(), "-pkg", writePackage(zip)}, options);
    }

    test::PtyPeer peer_;
    std::filesystem::path dir_;
    Lines lines_;
};

TEST_F(DfuTool, SendsAPackageAndReportsProgressPerObject) {
    const Bytes image = test::testImage(10000);
    ScriptedBootloader bootloader(peer_, {});
    EXPECT_EQ(runPackage(test::applicationPackage(image)), 0);
    EXPECT_EQ(lines_, (Lines{"Start programming.", "0/10000", "4096/10000", "8192/10000",
                             "10000/10000", "Device programmed."}));
    const auto r = bootloader.record();
    ASSERT_EQ(r.activatedImages.size(), 1u);
    EXPECT_EQ(r.activatedImages[0], image);
    EXPECT_EQ(r.opcodes.front(), 0x09);  // ping first
    EXPECT_EQ(r.prn, 0);
    // MTU 131: at most (131 - 3) / 2 = 64 data bytes per write, whatever they contain.
    EXPECT_EQ(r.maxWriteData, 64u);
    EXPECT_EQ(r.dataBytesWritten, image.size());
}

TEST_F(DfuTool, WritesFitTheReportedMtuInWholeWords) {
    const Bytes image = test::testImage(3000);
    BootloaderScript script;
    script.mtu = 100;  // (100 - 3) / 2 = 48.5: 48 bytes
    ScriptedBootloader bootloader(peer_, script);
    EXPECT_EQ(runPackage(test::applicationPackage(image, false)), 0);
    EXPECT_EQ(bootloader.record().maxWriteData, 48u);
}

TEST_F(DfuTool, SendsEveryImageInOrderWithOneProgressTotal) {
    const Bytes boot = test::testImage(5000, 2);
    const Bytes app = test::testImage(3000, 3);
    auto bootFields = test::applicationFields(boot);
    bootFields.type = 2;  // BOOTLOADER
    bootFields.appSize = 0;
    bootFields.blSize = 5000;
    const std::string manifest =
        R"({"manifest": {"application": {"bin_file": "a.bin", "dat_file": "a.dat"},
                         "bootloader": {"bin_file": "b.bin", "dat_file": "b.dat"}}})";
    const Bytes zip =
        test::makeZip({{"manifest.json", Bytes(manifest.begin(), manifest.end()), true},
                       {"a.bin", app, true},
                       {"a.dat", test::signedInitPacket(test::applicationFields(app)), true},
                       {"b.bin", boot, false},
                       {"b.dat", test::signedInitPacket(bootFields), false}});
    ScriptedBootloader bootloader(peer_, {});
    EXPECT_EQ(runPackage(zip), 0);
    EXPECT_EQ(lines_, (Lines{"Start programming.", "0/8000", "4096/8000", "5000/8000", "8000/8000",
                             "Device programmed."}));
    EXPECT_EQ(bootloader.record().activatedImages, (std::vector<Bytes>{boot, app}));
}

TEST_F(DfuTool, ResumesFromTheMatchingPrefixTheBootloaderHolds) {
    const Bytes image = test::testImage(10000);
    const Bytes other = test::testImage(10000, 99);
    const Bytes dat = test::signedInitPacket(test::applicationFields(image));
    struct Case {
        const char* what;
        const Bytes& source;  // image whose data and init packet the bootloader holds
        std::size_t held;
        std::uint32_t executed;
        std::size_t dataWritten;
        std::size_t creates;  // command and data objects created
    };
    const std::vector<Case> cases = {
        {"inside the second object", image, 5000, 4096, 10000 - 5000, 1},
        {"first object executed", image, 4096, 4096, 10000 - 4096, 2},
        // The create after it drops the unexecuted object; the client notices and goes back.
        {"first object never executed", image, 4096, 0, 10000, 4},
        {"another image", other, 5000, 4096, 10000, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BootloaderScript script;
        script.heldData.assign(c.source.begin(),
                               c.source.begin() + static_cast<std::ptrdiff_t>(c.held));
        script.heldExecuted = c.executed;
        script.heldInitPacket = test::signedInitPacket(test::applicationFields(c.source));
        ScriptedBootloader bootloader(peer_, script);
        EXPECT_EQ(runPackage(test::applicationPackage(image, dat)), 0);
        EXPECT_EQ(lines_.back(), "Device programmed.");
        const auto r = bootloader.record();
        EXPECT_EQ(r.activatedImages, std::vector<Bytes>{image});
        EXPECT_EQ(r.dataBytesWritten, c.dataWritten);
        EXPECT_EQ(static_cast<std::size_t>(std::ranges::count(r.opcodes, 0x01)), c.creates);
    }
}

// An object whose checksum does not match is sent again in a new object, for as long as the
// time an object may take allows, not a fixed number of times. An answer that differs from the
// expected one in a single bit was damaged on the line, not the object: it is asked again.
TEST_F(DfuTool, ResendsAnObjectWhoseChecksumDoesNotMatch) {
    const Bytes image = test::testImage(6000);
    struct Case {
        std::uint32_t corrupt;
        std::uint32_t mask;
        bool resent;
    };
    const std::vector<Case> cases = {
        {1, 0x5A5A5A5Au, true},
        {6, 0x5A5A5A5Au, true},
        {1, 0x00010000u, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.corrupt << " answers XOR " << c.mask);
        BootloaderScript script;
        script.corruptChecksums = c.corrupt;
        script.corruptionMask = c.mask;
        ScriptedBootloader bootloader(peer_, script);
        EXPECT_EQ(runPackage(test::applicationPackage(image)), 0);
        EXPECT_EQ(lines_.back(), "Device programmed.");
        const auto r = bootloader.record();
        EXPECT_EQ(r.activatedImages, std::vector<Bytes>{image});
        EXPECT_EQ(r.objectsExecuted, 2u);  // only objects whose checksum matched
        EXPECT_EQ(r.dataBytesWritten > image.size(), c.resent);
    }
    // A bootloader whose checksums never match: the transfer gives up once an object has
    // taken its time, and executes nothing.
    BootloaderScript always;
    always.corruptChecksums = 1000000;
    ScriptedBootloader bootloader(peer_, always);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runPackage(test::applicationPackage(image)), 1);
    EXPECT_EQ(lines_.back(), "Error: Failed to send firmware");
    EXPECT_EQ(bootloader.record().objectsExecuted, 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

// Line faults around requests and responses, as a real bootloader sees them: a lost request
// is never answered, a lost response leaves the client to find out what happened, and a
// damaged write may draw a response nobody asked for. The image (three objects) arrives, every
// object is executed once, and no execute is repeated unless the bootloader showed it had not
// taken the first.
TEST_F(DfuTool, RecoversFromLostAndStrayPackets) {
    const Bytes image = test::testImage(10000);
    const Lines programmed{"Start programming.", "0/10000",     "4096/10000",
                           "8192/10000",         "10000/10000", "Device programmed."};
    struct Case {
        const char* what;
        BootloaderScript script;
        std::size_t executesReceived;  // the init packet's one included
    };
    const auto script = [](auto change) {
        BootloaderScript s;
        change(s);
        return s;
    };
    const std::vector<Case> cases = {
        {"init packet's execute request lost", script([](auto& s) { s.loseExecuteRequest = 1; }),
         4},
        {"init packet's execute response lost", script([](auto& s) { s.loseExecuteResponse = 1; }),
         4},
        {"second object's execute request lost", script([](auto& s) { s.loseExecuteRequest = 3; }),
         4},
        {"second object's execute response lost",
         script([](auto& s) { s.loseExecuteResponse = 3; }), 4},
        {"last object's execute request lost", script([](auto& s) { s.loseExecuteRequest = 4; }),
         4},
        {"last object's execute response with its first byte damaged",
         script([](auto& s) { s.damageExecuteResponse = 4; }), 4},
        {"stray responses and garbage before a checksum response",
         script([](auto& s) { s.strayBeforeChecksum = 3; }), 4},
        {"a select merged with the request before it", script([](auto& s) { s.mergeSelect = 3; }),
         4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedBootloader bootloader(peer_, c.script);
        EXPECT_EQ(runPackage(test::applicationPackage(image)), 0);
        EXPECT_EQ(lines_, programmed);
        const auto r = bootloader.record();
        EXPECT_EQ(r.activatedImages, std::vector<Bytes>{image});
        EXPECT_EQ(r.objectsExecuted, 3u);
        EXPECT_EQ(r.executeRequests, c.executesReceived);
    }
}

// The response to the last execute is lost and the module restarts: the tool cannot know that
// the image was taken, so it does not claim it, and it does not execute again.
TEST_F(DfuTool, LostAnswerToTheLastExecuteIsNoSuccess) {
    const Bytes image = test::testImage(10000);
    BootloaderScript script;
    script.loseExecuteResponse = 4;
    script.restartSilence = std::chrono::seconds(30);
    ScriptedBootloader bootloader(peer_, script);
    EXPECT_EQ(runPackage(test::applicationPackage(image)), 1);
    EXPECT_EQ(lines_.back(), "Error: The bootloader did not confirm the last object");
    EXPECT_EQ(std::ranges::count(lines_, "Device programmed."), 0);
    const auto r = bootloader.record();
    EXPECT_EQ(r.activatedImages, std::vector<Bytes>{image});
    EXPECT_EQ(r.executeRequests, 4u);
}

TEST_F(DfuTool, ReportsBootloaderFailuresInOneErrorLine) {
    const Bytes zip = test::applicationPackage(test::testImage(9000));
    BootloaderScript silent;
    silent.silent = true;
    BootloaderScript refusing;
    refusing.refuseInitWith = 0x0C;
    BootloaderScript stalling;
    stalling.stallAfterObjects = 1;
    BootloaderScript tinyMtu;
    tinyMtu.mtu = 10;
    struct Case {
        const char* what;
        BootloaderScript script;
        Lines tail;
    };
    const std::vector<Case> cases = {
        {"silent", silent, {"0/9000", "Error: No ping response after opening COM port"}},
        {"init refused",
         refusing,
         {"0/9000",
          "Error: Bootloader refused execute object while sending the init packet: result code "
          "0x0B (extended error), extended error 0x0C (verification failed)"}},
        {"stall", stalling, {"4096/9000", "Error: Failed to send firmware"}},
        {"MTU too small",
         tinyMtu,
         {"0/9000", "Error: Bootloader reported an MTU of 10 bytes, too small for a write"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedBootloader bootloader(peer_, c.script);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(runPackage(zip), 1);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        ASSERT_GE(lines_.size(), 3u);
        EXPECT_EQ(lines_.front(), "Start programming.");
        EXPECT_EQ(Lines(lines_.end() - 2, lines_.end()), c.tail);
        EXPECT_TRUE(bootloader.record().activatedImages.empty());
    }
}

TEST_F(DfuTool, RefusesABadPackageBeforeTouchingThePort) {
    const Bytes image = test::testImage(5000);
    auto wrongSize = test::applicationFields(image);
    wrongSize.appSize = 5004;
    auto wrongHash = test::applicationFields(image);
    wrongHash.hash[31] ^= 0x80;
    Bytes corrupt = test::applicationPackage(image, false);
    corrupt[corrupt.size() / 2] ^= 0x55;
    const std::string manifest =
        R"({"manifest": {"application": {"bin_file": "app.bin", "dat_file": "app.dat"}}})";
    const Bytes noDat =
        test::makeZip({{"manifest.json", Bytes(manifest.begin(), manifest.end()), false},
                       {"app.bin", image, false}});
    struct Case {
        const char* what;
        Bytes zip;
        const char* errorPart;
    };
    const std::vector<Case> cases = {
        {"member missing", noDat, "app.dat"},
        {"corrupt archive", corrupt, "CRC-32"},
        {"init packet does not decode", test::applicationPackage(image, Bytes{0x12, 0x05}),
         "does not decode"},
        {"size mismatch", test::applicationPackage(image, test::signedInitPacket(wrongSize)),
         "declares 5004 bytes"},
        {"hash mismatch", test::applicationPackage(image, test::signedInitPacket(wrongHash)),
         "SHA-256"},
    };
    ScriptedBootloader bootloader(peer_, {});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(runPackage(c.zip), 1);
        ASSERT_EQ(lines_.size(), 1u);
        EXPECT_TRUE(lines_[0].starts_with("Error: ")) << lines_[0];
        EXPECT_NE(lines_[0].find(c.errorPart), std::string::npos) << lines_[0];
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(bootloader.record().bytesIn, 0u);
}

TEST_F(DfuTool, NamesThePortThatCouldNotBeOpened) {
    const std::string missing = (dir_ / "no such port").string();
    EXPECT_EQ(run({"--qor", "-cd", "0", "-p", missing, "-pkg",
                   writePackage(test::applicationPackage(test::testImage(100)))}),
              1);
    ASSERT_FALSE(lines_.empty());
    EXPECT_EQ(lines_.back(), "Error: Serial port could not be opened on " + missing +
                                 ". Reason: No such file or directory");
}

TEST_F(DfuTool, CommandLine) {
    const std::string package = writePackage(test::applicationPackage(test::testImage(100)));
    // Without --qor nothing happens at all.
    EXPECT_EQ(run({"-p", peer_.path(), "-pkg", package}), 0);
    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(run({}), 0);
    EXPECT_TRUE(lines_.empty());

    struct Case {
        std::vector<std::string> args;
        const char* error;
    };
    const std::vector<Case> cases = {
        {{"--qor", "-pkg", package}, "Error: No serial port given (-p)"},
        {{"--qor", "-p", peer_.path()}, "Error: No package given (-pkg)"},
        {{"--qor", "-cd", "x", "-p", peer_.path(), "-pkg", package},
         "Error: Invalid connect delay: x"},
        {{"--qor", "-cd", "-1", "-p", peer_.path(), "-pkg", package},
         "Error: Invalid connect delay: -1"},
        {{"--qor", "-p", peer_.path(), "-pkg", package, "-x"}, "Error: Unknown argument: -x"},
        {{"--qor", "-p", peer_.path(), "-pkg"}, "Error: Option -pkg needs a value"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.args), 1);
        EXPECT_EQ(lines_, Lines{c.error});
    }
}

// An unquoted path with a blank reaches the tool in two pieces; they are joined again.
TEST_F(DfuTool, JoinsAnUnquotedPackagePathSplitAtItsBlank) {
    const Bytes image = test::testImage(2000);
    const std::string package = writePackage(test::applicationPackage(image), "pkg with blank.zip");
    const auto blank = package.rfind(' ');
    ScriptedBootloader bootloader(peer_, {});
    EXPECT_EQ(run({"--qor", "-cd", "0", "-p", peer_.path(), "-pkg", package.substr(0, blank),
                   package.substr(blank + 1)}),
              0);
    EXPECT_EQ(lines_.back(), "Device programmed.");
}

}  // namespace
}  // namespace qor::dfu
