// Whole update runs against the simulated logger, one fault per case, both transfer kinds. Each
// run goes through the worker as the window starts it, and every case checks the same things:
// the one final notification and its error code; the serial port released (no handle left,
// openable again) when the final notification is posted; no tool file or folder left in the
// temporary directory; a success only for a module that now runs the image's class and version;
// and a run time within what the run's own timings allow for the stages it went through. A
// subset also runs through the headless program for its exit status.
//
// With QOR_FAULT_MATRIX_RESULTS set to a folder, each case leaves a result row there
// (scripts/fault-matrix.sh prints them as a table).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueTestSeam.h"
#include "engine/BlockCrc.h"
#include "engine/Exceptions.h"
#include "engine/KECommThread.h"
#include "engine/NotificationHandler.h"
#include "engine/RunState.h"
#include "platform/Resource.h"
#include "platform/SerialPort.h"
#include "tests/faults/RunBudget.h"
#include "tests/sim/SimHarness.h"
#include "tests/support/NotificationRecorder.h"

namespace qor {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Posted;
using test::RunBudget;

enum class Transfer { Dfu, Block };
// The DFU tool the run writes out: the one the program carries, a file that is no program, or
// a program that never ends by itself.
enum class Tool { Carried, NotAProgram, NeverEnds };
enum class PortSetup { Simulator, HeldByAnother, Missing };

struct CancelRequest {
    enum class When { Never, AtStart, AfterDelay, OnNotification, AfterModuleRestart };
    When when = When::Never;
    std::uint32_t code = 0;      // OnNotification: the first notification with this code;
                                 // AfterDelay: milliseconds after the start
    const char* line = nullptr;  // ... and, for 100, this line
    // The longest the run may go on after the request, before any margin.
    std::uint32_t latencyMs = 0;
};

struct Outcome {
    std::uint32_t code;
    std::int32_t value;
};

struct FaultCase {
    std::string name{};
    Transfer transfer = Transfer::Dfu;
    std::function<void(sim::Config&)> fault{};
    Outcome expected{};
    RunBudget budget{};
    bool readInfoOnly = false;
    CancelRequest cancel{};
    Tool tool = Tool::Carried;
    PortSetup port = PortSetup::Simulator;
    std::uint32_t atLeastMs = 0;             // the run must really have waited this long
    std::vector<std::string> reportsLine{};  // tool or bootloader lines that must be reported
    bool throughProgram = false;
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

constexpr Outcome succeeds() {
    return {kNotifySuccess, static_cast<std::int32_t>(TCmd::tCMD0)};
}
constexpr Outcome fails(std::int32_t error) {
    return {kNotifyFailure, error};
}
constexpr Outcome restarts() {
    return {kNotifyNoAnswer, static_cast<std::int32_t>(TCmd::tCMD0)};
}

using Fault = std::function<void(sim::Config&)>;

Fault none() {
    return [](sim::Config&) {};
}

Fault all(std::vector<Fault> faults) {
    return [faults = std::move(faults)](sim::Config& c) {
        for (const auto& f : faults) {
            f(c);
        }
    };
}

// A logger command fault; selector only for command 3.
Fault link(sim::LinkFaultKind kind, std::uint8_t command, std::optional<std::uint8_t> selector,
           std::uint32_t attempt, bool fromAttemptOn = false, std::uint32_t parameter = 0) {
    return [=](sim::Config& c) {
        c.linkFaults.push_back({kind, {command, selector}, attempt, fromAttemptOn, parameter});
    };
}

Fault unanswered(std::uint8_t command, std::optional<std::uint8_t> selector = {},
                 std::uint32_t fromAttempt = 1) {
    return link(sim::LinkFaultKind::NoAnswer, command, selector, fromAttempt, true);
}

Fault badCrcOnAttempts(std::uint32_t last) {
    std::vector<Fault> faults;
    for (std::uint32_t attempt = 1; attempt <= last; ++attempt) {
        faults.push_back(link(sim::LinkFaultKind::WrongCrc, 1, {}, attempt));
    }
    return all(std::move(faults));
}

Fault block(sim::BlockFaultKind kind, std::uint8_t command, std::uint32_t attempt,
            std::uint32_t parameter = 0) {
    return [=](sim::Config& c) { c.blockFaults.push_back({kind, command, attempt, parameter}); };
}

// The simulated logger ends a silent pass-through after 5 s; an answer that comes after the
// block deadline needs the line kept open longer.
Fault keepPassThroughLongerThanTheDeadline() {
    return [](sim::Config& c) {
        c.passThroughIdle = std::chrono::milliseconds(3 * RunBudget::kBlockDeadline);
    };
}

Fault identity(std::function<void(sim::Identity&)> change) {
    return [change = std::move(change)](sim::Config& c) { change(c.identity); };
}

Fault report(std::function<void(sim::PowerOnReport&)> change) {
    return [change = std::move(change)](sim::Config& c) { change(c.report); };
}

Fault nordic(std::function<void(sim::NordicFaults&)> change) {
    return [change = std::move(change)](sim::Config& c) { change(c.nordic); };
}

// A long frame (kind 15) in place of the power-on report, with a valid CRC-16 of its own.
std::vector<std::uint8_t> longFrameFirst() {
    std::vector<std::uint8_t> frame = {0x78, 0x01, 0x00, 0x0A};
    const std::uint16_t crc = blockCrc16(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

CancelRequest cancelOn(std::uint32_t code, std::uint32_t latencyMs, const char* line = nullptr) {
    return {CancelRequest::When::OnNotification, code, line, latencyMs};
}

// The kind-4 image: what the simulator's module is and reports after a block-bootloader update
// (BLE module G2, u-blox NINA, NINA-B3 UART, version 2.05).
constexpr std::uint32_t kBlockImageLength = 3000;  // blocks of 1024, 1024 and 952 bytes
const TBl3FileHeader kBlockImage{26156, 2, 5, 18, 35, "01.02.2024 10:00:00", 4, 1};

std::vector<std::uint8_t> blockImageBytes() {
    std::vector<std::uint8_t> bytes(kBlockImageLength);
    for (std::uint32_t i = 0; i < kBlockImageLength; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 31 + 7);
    }
    return bytes;
}

// How long the runs take on their way: the fixed start, the identification, the transfers.
constexpr RunBudget kStart = RunBudget().start();
constexpr RunBudget kIdentified = kStart.identification();
constexpr RunBudget kDfuRun = kIdentified.dfuTransfer().dfuRestart().command();
constexpr RunBudget kPowerOnReport = kIdentified.command()
                                         .blockExchange(0, RunBudget::kShortFrameMax)
                                         .plus(3 + RunBudget::kFramePause);
constexpr RunBudget kAnnounced = kPowerOnReport.blockExchange(14, RunBudget::kAnswerFrame);
constexpr RunBudget kBlockTransferred = kIdentified.blockTransfer(kBlockImageLength);
constexpr RunBudget kBlockRun = kBlockTransferred.blockRestart().command();
constexpr std::uint32_t kModuleRestartDelayMs = 2000;

const std::vector<FaultCase>& faultCases() {
    using sim::BlockFaultKind;
    using sim::LinkFaultKind;
    using When = CancelRequest::When;
    static const std::vector<FaultCase> cases = {
        // The longest first, so that a parallel run does not end waiting for it alone.
        {.name = "Tool_RunsPastItsTimeLimit",
         .fault = none(),
         .expected = fails(0),
         .budget = kIdentified.dfuTransfer(),
         .tool = Tool::NeverEnds,
         .atLeastMs = RunBudget::kToolLimit,
         .reportsLine = {"complete"}},
        {.name = "Block_LateBlockAnswerMeansTheBlockIsSentAgain",
         .transfer = Transfer::Block,
         .fault = all({block(BlockFaultKind::LateAnswer, 14, 1, RunBudget::kBlockDeadline + 500),
                       keepPassThroughLongerThanTheDeadline()}),
         .expected = succeeds(),
         .budget = kBlockTransferred.blockDeadline()
                       .blockExchange(RunBudget::kLargestFrame, RunBudget::kAnswerFrame)
                       .blockRestart()
                       .command()},
        {.name = "Block_ModuleReportsAnotherClass",
         .transfer = Transfer::Block,
         .fault = identity([](sim::Identity& i) { i.classAfterUpdate = 26155; }),
         .expected = fails(cEX_VERIFY),
         .budget = kBlockRun},
        {.name = "Dfu_SilentBootloader",
         .fault = nordic([](sim::NordicFaults& n) { n.silent = true; }),
         .expected = fails(cEX_VERIFY),
         .budget = kDfuRun,
         .reportsLine = {"Error: No ping response after opening COM port"}},
        // The module keeps the refused image out and the logger stays in pass-through at the
        // bootloader's speed: the command frames at 9600 baud are noise to it.
        {.name = "WrongSpeed_LoggerStaysAtBootloaderSpeed",
         .fault = all({nordic([](sim::NordicFaults& n) { n.refuseInit = 4; }),
                       [](sim::Config& c) { c.passThroughIdle = 0ms; }}),
         .expected = restarts(),
         .budget = kIdentified.dfuTransfer().dfuRestart().unanswered()},
        {.name = "NoAnswer_Verification",
         .fault = unanswered(3, 0, 2),
         .expected = restarts(),
         .budget = kIdentified.dfuTransfer().dfuRestart().unanswered()},
        {.name = "Dfu_Success",
         .fault = none(),
         .expected = succeeds(),
         .budget = kDfuRun,
         .reportsLine = {"Start programming.", "Device programmed.", "complete"}},
        {.name = "Dfu_ModuleKeepsOldVersion",
         .fault = identity([](sim::Identity& i) { i.versionAfterUpdate = 0x0201; }),
         .expected = fails(cEX_VERIFY),
         .budget = kDfuRun,
         .throughProgram = true},
        {.name = "Dfu_StallsMidImage",
         .fault = nordic([](sim::NordicFaults& n) { n.stallAfterBytes = 20000; }),
         .expected = fails(cEX_VERIFY),
         .budget = kDfuRun,
         .reportsLine = {"Error: Failed to send firmware"}},
        {.name = "Dfu_CorruptsAByteTheToolSendsAgain",
         .fault = nordic([](sim::NordicFaults& n) { n.corruptImageByte = 5000; }),
         .expected = succeeds(),
         .budget = kDfuRun},
        {.name = "Dfu_RefusesInitPacket",
         .fault = nordic([](sim::NordicFaults& n) { n.refuseInit = 4; }),
         .expected = fails(cEX_VERIFY),
         .budget = kDfuRun},
        // The port is gone when the run reopens it after the restart wait.
        {.name = "Dfu_VanishesMidTransfer",
         .fault = [](sim::Config& c) { c.vanishAfterBytes = 20000; },
         .expected = fails(cEX_PORT_OPEN),
         .budget = kIdentified.dfuTransfer().dfuRestart()},
        {.name = "Block_NoPowerOnReport",
         .transfer = Transfer::Block,
         .fault = report([](sim::PowerOnReport& r) { r.send = false; }),
         .expected = fails(cEX_KE_TIMEOUT),
         .budget = kIdentified.command().blockDeadline()},
        {.name = "Block_AnnounceAnsweredTooLate",
         .transfer = Transfer::Block,
         .fault = all({block(BlockFaultKind::LateAnswer, 12, 1, RunBudget::kBlockDeadline + 1000),
                       keepPassThroughLongerThanTheDeadline()}),
         .expected = fails(cEX_KE_TIMEOUT),
         .budget = kPowerOnReport.blockExchange(14, 0).blockDeadline()},
        // Writing to a line that is gone fails: the block cannot be sent again.
        {.name = "Block_VanishesMidTransfer",
         .transfer = Transfer::Block,
         .fault = [](sim::Config& c) { c.vanishAfterBytes = 1500; },
         .expected = fails(cEX_PORT_IO),
         .budget = kBlockTransferred.blockDeadline()},
        {.name = "Cancel_DuringBlockRestartWait",
         .transfer = Transfer::Block,
         .fault = none(),
         .expected = fails(cEX_CANCEL),
         .budget = kBlockTransferred.plus(kModuleRestartDelayMs + 1000),
         .cancel = {When::AfterModuleRestart, 0, nullptr, 1000}},
        // The tool is not interrupted: the run ends at the first check after it.
        {.name = "Cancel_WhileToolRuns",
         .fault = none(),
         .expected = fails(cEX_CANCEL),
         .budget = kIdentified.dfuTransfer(),
         .cancel = cancelOn(kNotifyProgress, RunBudget::kToolLimit),
         .reportsLine = {"complete"}},
        {.name = "Cancel_DuringDfuRestartWait",
         .fault = none(),
         .expected = fails(cEX_CANCEL),
         .budget = kIdentified.dfuTransfer().plus(1000),
         .cancel = cancelOn(kNotifyText, 1000, "complete")},
        {.name = "Cancel_DuringBlockTransfer",
         .transfer = Transfer::Block,
         .fault = none(),
         .expected = fails(cEX_CANCEL),
         .budget = kAnnounced.blockExchange(RunBudget::kLargestFrame, RunBudget::kAnswerFrame)
                       .blockExchange(RunBudget::kLargestFrame, 0),
         .cancel = cancelOn(kNotifyProgress,
                            RunBudget().blockExchange(RunBudget::kLargestFrame, 0).ms())},
        // The worker checks before every frame, the reset frames included.
        {.name = "Cancel_AtStart",
         .fault = none(),
         .expected = fails(cEX_CANCEL),
         .budget = kStart,
         .cancel = {When::AtStart, 0, nullptr, kStart.ms()}},
        // Takes effect at the first command after the pause.
        {.name = "Cancel_DuringFirstPause",
         .fault = none(),
         .expected = fails(cEX_CANCEL),
         .budget = kStart.command(),
         .cancel = {When::AfterDelay, 1000, nullptr, kStart.command().ms()}},
        {.name = "Cancel_DuringIdentification",
         .fault = none(),
         .expected = fails(cEX_CANCEL),
         .budget = kStart.command(),
         .cancel = cancelOn(kNotifyVersion, RunBudget().command().ms())},
        {.name = "Cancel_AtPassThroughSwitch",
         .fault = none(),
         .expected = fails(cEX_CANCEL),
         .budget = kIdentified,
         .cancel = cancelOn(kNotifySelected, RunBudget().command().ms())},
        {.name = "Block_AnnounceRefused",
         .transfer = Transfer::Block,
         .fault = block(BlockFaultKind::Status, 12, 1, 11),
         .expected = fails(cEX_KE_NAK),
         .budget = kAnnounced,
         .throughProgram = true},
        {.name = "Block_SecondBlockRefused",
         .transfer = Transfer::Block,
         .fault = block(BlockFaultKind::Status, 14, 2, 11),
         .expected = fails(cEX_KE_NAK),
         .budget = kAnnounced.blockExchange(RunBudget::kLargestFrame, RunBudget::kAnswerFrame)
                       .blockExchange(RunBudget::kLargestFrame, RunBudget::kAnswerFrame)},
        {.name = "Block_FinishAnsweredWithUnknownStatus",
         .transfer = Transfer::Block,
         .fault = block(BlockFaultKind::Status, 13, 1, 12),
         .expected = fails(cEX_KE_ANSWER),
         .budget = kBlockTransferred,
         .throughProgram = true},
        {.name = "Block_PowerOnReportFlagClear",
         .transfer = Transfer::Block,
         .fault = report([](sim::PowerOnReport& r) { r.flags = 0; }),
         .expected = fails(cEX_KE_POR),
         .budget = kPowerOnReport,
         .throughProgram = true},
        {.name = "Block_PowerOnReportTooShort",
         .transfer = Transfer::Block,
         .fault = report([](sim::PowerOnReport& r) {
             r.rawFrame = std::vector<std::uint8_t>{0x08, 0x06, 0x01, 0x00, 0x2C, 0x66, 18, 0};
         }),
         .expected = fails(cEX_KE_POR),
         .budget = kPowerOnReport},
        {.name = "Block_LongFrameInsteadOfPowerOnReport",
         .transfer = Transfer::Block,
         .fault = report([](sim::PowerOnReport& r) { r.rawFrame = longFrameFirst(); }),
         .expected = fails(cEX_KE_POR),
         .budget = kPowerOnReport},
        {.name = "Block_PowerOnReportBadCrc",
         .transfer = Transfer::Block,
         .fault = report([](sim::PowerOnReport& r) { r.badCrc = true; }),
         .expected = fails(cEX_KE_CRC),
         .budget = kPowerOnReport,
         .throughProgram = true},
        {.name = "Block_BlockAnswerBadCrc",
         .transfer = Transfer::Block,
         .fault = block(BlockFaultKind::BadCrc, 14, 1),
         .expected = fails(cEX_KE_CRC),
         .budget = kAnnounced.blockExchange(RunBudget::kLargestFrame, RunBudget::kAnswerFrame)},
        {.name = "Block_FinishAnswerBadCrc",
         .transfer = Transfer::Block,
         .fault = block(BlockFaultKind::BadCrc, 13, 1),
         .expected = fails(cEX_KE_CRC),
         .budget = kBlockTransferred},
        {.name = "NoAnswer_LoggerIdentity",
         .fault = unanswered(1),
         .expected = restarts(),
         .budget = kStart.unanswered(),
         .throughProgram = true},
        {.name = "NoAnswer_ModuleHardware",
         .fault = unanswered(3, 2),
         .expected = restarts(),
         .budget = kStart.command().unanswered()},
        {.name = "NoAnswer_ModuleFirmware",
         .fault = unanswered(3, 0),
         .expected = restarts(),
         .budget = kStart.commands(2).unanswered()},
        {.name = "NoAnswer_ModulePlatform",
         .fault = unanswered(3, 1),
         .expected = restarts(),
         .budget = kStart.commands(3).unanswered()},
        {.name = "NoAnswer_PassThroughToDfuBootloader",
         .fault = unanswered(2),
         .expected = restarts(),
         .budget = kIdentified.unanswered()},
        {.name = "NoAnswer_PassThroughToBlockBootloader",
         .transfer = Transfer::Block,
         .fault = unanswered(2),
         .expected = restarts(),
         .budget = kIdentified.unanswered()},
        // A wrong CRC on the first k attempts: the run goes on after k failed attempts, or
        // gives up after the fifth.
        {.name = "BadCrc_OnAttempt1",
         .fault = badCrcOnAttempts(1),
         .expected = fails(cEX_INFO_ONLY),
         .budget = kStart.command(1).commands(3),
         .readInfoOnly = true},
        {.name = "BadCrc_OnAttempts1To2",
         .fault = badCrcOnAttempts(2),
         .expected = fails(cEX_INFO_ONLY),
         .budget = kStart.command(2).commands(3),
         .readInfoOnly = true},
        {.name = "BadCrc_OnAttempts1To3",
         .fault = badCrcOnAttempts(3),
         .expected = fails(cEX_INFO_ONLY),
         .budget = kStart.command(3).commands(3),
         .readInfoOnly = true},
        {.name = "BadCrc_OnAttempts1To4",
         .fault = badCrcOnAttempts(4),
         .expected = fails(cEX_INFO_ONLY),
         .budget = kStart.command(4).commands(3),
         .readInfoOnly = true},
        {.name = "BadCrc_OnAttempts1To5",
         .fault = badCrcOnAttempts(5),
         .expected = restarts(),
         .budget = kStart.unanswered(),
         .readInfoOnly = true},
        {.name = "LateByte_FirstAnswerLosesItsLastByte",
         .fault = link(LinkFaultKind::LateLastByte, 1, {}, 1, false, 300),
         .expected = fails(cEX_INFO_ONLY),
         .budget = kStart.command(1).commands(3),
         .readInfoOnly = true},
        {.name = "Garbage_BeforeModuleFirmwareAnswer",
         .fault = link(LinkFaultKind::Garbage, 3, 0, 1, false, 3),
         .expected = fails(cEX_INFO_ONLY),
         .budget = kStart.commands(2).command(1).command(),
         .readInfoOnly = true},
        {.name = "ExceptionBit_LoggerIdentity",
         .fault = link(LinkFaultKind::Exception, 1, {}, 1, true),
         .expected = fails(cEX_LOGGER_EXCEPTION),
         .budget = kStart.command(),
         .throughProgram = true},
        {.name = "ExceptionBit_ModuleHardware",
         .fault = link(LinkFaultKind::Exception, 3, 2, 1, true),
         .expected = fails(cEX_LOGGER_EXCEPTION),
         .budget = kStart.commands(2)},
        {.name = "ExceptionBit_PassThrough",
         .fault = link(LinkFaultKind::Exception, 2, {}, 1, true),
         .expected = fails(cEX_LOGGER_EXCEPTION),
         .budget = kIdentified.command()},
        {.name = "WrongLoggerClass",
         .fault = identity([](sim::Identity& i) { i.loggerClass = 26135; }),
         .expected = fails(cEX_WRONG_LOGGER),
         .budget = kStart.command(),
         .throughProgram = true},
        {.name = "LoggerFirmwareTooOld",
         .fault = identity([](sim::Identity& i) { i.loggerVersion = 0x0107; }),
         .expected = fails(cEX_WRONG_LOGGER),
         .budget = kStart.command()},
        {.name = "ModuleClassWithoutUpdates",
         .fault = identity([](sim::Identity& i) { i.updateClass = 26150; }),
         .expected = fails(cEX_NO_UPDATE),
         .budget = kStart.commands(2),
         .throughProgram = true},
        {.name = "NoImageForThisPrint",
         .fault = identity([](sim::Identity& i) { i.print = 36; }),
         .expected = fails(cEX_NO_UPDATE),
         .budget = kIdentified},
        {.name = "ReadInfoOnly",
         .fault = none(),
         .expected = fails(cEX_INFO_ONLY),
         .budget = kIdentified,
         .readInfoOnly = true,
         .throughProgram = true},
        {.name = "Port_Missing",
         .fault = none(),
         .expected = fails(cEX_PORT_OPEN),
         .budget = RunBudget(),
         .port = PortSetup::Missing},
        {.name = "Port_HeldByAnotherProgram",
         .fault = none(),
         .expected = fails(cEX_PORT_OPEN),
         .budget = RunBudget(),
         .port = PortSetup::HeldByAnother,
         .throughProgram = true},
        {.name = "Tool_CannotStart",
         .fault = none(),
         .expected = fails(0),
         .budget = kIdentified.command().plus(RunBudget::kPortRelease),
         .tool = Tool::NotAProgram},
    };
    return cases;
}

std::vector<FaultCase> programCases() {
    std::vector<FaultCase> out;
    for (const auto& c : faultCases()) {
        if (c.throughProgram) {
            out.push_back(c);
        }
    }
    return out;
}

std::string outcomeText(const Outcome& o) {
    return o.code == kNotifyFailure ? std::to_string(o.code) + "/" + std::to_string(o.value)
                                    : std::to_string(o.code);
}

// The headless program's exit status for a run's final notification (with no restarts left).
int exitStatusFor(const Outcome& o) {
    if (o.code == kNotifySuccess) {
        return 0;
    }
    if (o.code == kNotifyNoAnswer) {
        return 30;
    }
    return o.value == 0 ? 1 : o.value;
}

bool isFinal(std::uint32_t code) {
    return code == kNotifySuccess || code == kNotifyFailure || code == kNotifyNoAnswer;
}

std::int64_t msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// Descriptors of this process open on the given character device.
int openDescriptorsOn(dev_t device) {
    int count = 0;
    std::error_code ec;
    for (fs::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) {
        struct stat info {};
        const int fd = std::atoi(it->path().filename().c_str());
        if (::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == device) {
            ++count;
        }
    }
    return count;
}

bool canOpen(const std::string& port) {
    const platform::SerialHandle h = platform::serialOpen(port, 9600);
    platform::serialClose(h);
    return h != platform::kInvalidSerialHandle;
}

// Puts another DFU tool in place of the carried one while it lives.
class ToolReplacement {
  public:
    explicit ToolReplacement(Tool tool) : carried_(platform::findResource(kName)) {
        static const std::string notAProgram = "this is not a program\n";
        static const std::string neverEnds = "#!/bin/sh\nexec sleep 600\n";
        const std::string* bytes = tool == Tool::NotAProgram ? &notAProgram : &neverEnds;
        platform::ResourceRegistration(kName, reinterpret_cast<const std::uint8_t*>(bytes->data()),
                                       bytes->size());
    }
    ~ToolReplacement() { platform::ResourceRegistration(kName, carried_.data(), carried_.size()); }
    ToolReplacement(const ToolReplacement&) = delete;
    ToolReplacement& operator=(const ToolReplacement&) = delete;

  private:
    static constexpr const char* kName = "UPDATE_PROG";
    std::span<const std::uint8_t> carried_;
};

class FaultMatrixTest : public ::testing::TestWithParam<FaultCase> {
  protected:
    void SetUp() override {
        tmp_ = fs::temp_directory_path() /
               ("qor-faults-" + std::to_string(::getpid()) + "-" + GetParam().name);
        fs::remove_all(tmp_);
        fs::create_directories(tmp_);
        ::setenv("TMPDIR", tmp_.c_str(), 1);
        cancelFlag = false;
        checkClassFlag = true;
        readInfoOnlyFlag = GetParam().readInfoOnly;
        selectedFirmwareIndex = -1;
    }
    void TearDown() override {
        ::unsetenv("TMPDIR");
        fs::remove_all(tmp_);
        cancelFlag = false;
        readInfoOnlyFlag = false;
    }

    // The port is a link of the case's own. Pseudo-terminal numbers are shared by every process
    // of the machine: after the case's terminal has gone (a port that vanishes), another test's
    // new simulator may get its number, and a run reopening the number would talk to that one.
    sim::Config configFor(const FaultCase& c) const {
        sim::Config config;
        config.linkPath = linkPath();
        if (c.transfer == Transfer::Block) {
            config.bootloader = sim::BootloaderKind::Block;
        }
        c.fault(config);
        return config;
    }

    // Beside the temporary directory, which the runs must leave empty.
    std::string linkPath() const { return tmp_.string() + "-port"; }
    std::string portFor(const FaultCase& c) const {
        return c.port == PortSetup::Missing ? (tmp_ / "no-such-port").string() : linkPath();
    }

    // Leaves a result row for the table script.
    void recordRow(const FaultCase& c, const std::string& expected, const std::string& got,
                   std::int64_t elapsedMs, std::uint32_t boundMs) const {
        const char* folder = std::getenv("QOR_FAULT_MATRIX_RESULTS");
        if (folder == nullptr) {
            return;
        }
        const auto& cases = faultCases();
        std::size_t index = 0;
        while (index < cases.size() && cases[index].name != c.name) {
            ++index;
        }
        // "Cases/FaultMatrixTest": the part after the instantiation's name.
        std::string suite =
            ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name();
        suite = suite.substr(suite.find('/') + 1);
        std::ofstream row(fs::path(folder) / (suite + "." + c.name + ".row"));
        row << index << "|" << suite << "|" << c.name << "|" << expected << "|" << got << "|"
            << elapsedMs << "|" << boundMs << "|" << (HasFailure() ? "FAIL" : "ok") << "\n";
    }

    fs::path tmp_;
};

// What the worker posted and what was true at the moment of its final notification.
struct Observation {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::atomic<bool> cancelled{false};
    Clock::time_point cancelledAt{};
    std::atomic<bool> portOpenable{false};
    std::atomic<int> descriptorsAtEnd{-1};
};

TEST_P(FaultMatrixTest, EndsAsSpecified) {
    const FaultCase& c = GetParam();
    sim::test::RunningSim logger(configFor(c));
    const std::string port = portFor(c);
    std::optional<test::ScopedBuiltinEntry> blockImage;
    if (c.transfer == Transfer::Block) {
        blockImage.emplace(kBlockImage, blockImageBytes(), kBlockImageLength, kBlockImageLength,
                           test::ScopedBuiltinEntry::Placement::only);
    }
    std::optional<ToolReplacement> tool;
    if (c.tool != Tool::Carried) {
        tool.emplace(c.tool);
    }
    platform::SerialHandle held = platform::kInvalidSerialHandle;
    if (c.port == PortSetup::HeldByAnother) {
        held = platform::serialOpen(port, 9600);
        ASSERT_NE(held, platform::kInvalidSerialHandle);
    }
    struct stat device {};
    const bool isDevice = ::stat(port.c_str(), &device) == 0;
    // The simulator's own hold on the line, and ours for a port held by another program.
    const int othersHold = isDevice ? openDescriptorsOn(device.st_rdev) : 0;

    Observation seen;
    const auto requestCancel = [&seen] {
        if (!seen.cancelled.exchange(true)) {
            std::lock_guard lock(seen.mutex);
            seen.cancelledAt = Clock::now();
            cancelFlag = true;
        }
    };
    test::NotificationRecorder recorder([&](const Posted& p) {
        if (p.code == kNotifyText) {
            std::lock_guard lock(seen.mutex);
            seen.lines.push_back(textSlot(p.value));
        }
        if (c.cancel.when == CancelRequest::When::OnNotification && p.code == c.cancel.code &&
            (c.cancel.line == nullptr || textSlot(p.value) == c.cancel.line)) {
            requestCancel();
        }
        if (isFinal(p.code)) {
            if (c.port == PortSetup::Simulator && !logger.sim().vanished()) {
                seen.portOpenable = canOpen(port);
            }
            if (isDevice) {
                seen.descriptorsAtEnd = openDescriptorsOn(device.st_rdev);
            }
        }
    });
    std::atomic<bool> runOver{false};
    std::thread canceller;
    // Time-driven requests: a while after the start, or after the module has restarted.
    if (c.cancel.when == CancelRequest::When::AfterDelay ||
        c.cancel.when == CancelRequest::When::AfterModuleRestart) {
        canceller = std::thread([&] {
            const bool afterRestart = c.cancel.when == CancelRequest::When::AfterModuleRestart;
            while (afterRestart && !runOver && logger.sim().passThroughSessionsEnded() == 0) {
                std::this_thread::sleep_for(5ms);
            }
            const auto from = Clock::now();
            const auto delay =
                std::chrono::milliseconds(afterRestart ? kModuleRestartDelayMs : c.cancel.code);
            while (!runOver && Clock::now() - from < delay) {
                std::this_thread::sleep_for(5ms);
            }
            if (!runOver) {
                requestCancel();
            }
        });
    }
    // Whatever ends this test, the worker ends first and the watcher with it.
    struct EndOfRun {
        std::atomic<bool>& over;
        std::thread& watch;
        ~EndOfRun() {
            cancelFlag = true;
            TCommThread::waitForWorkers(2 * RunBudget::kToolLimit);
            over = true;
            if (watch.joinable()) {
                watch.join();
            }
        }
    } endOfRun{runOver, canceller};

    const auto startedAt = Clock::now();
    TCommThread::Create<TKECommThread>(recorder.handle(), TCmd::tCMD0, port);
    if (c.cancel.when == CancelRequest::When::AtStart) {
        requestCancel();
    }
    const std::uint32_t boundMs = c.budget.withMargin();
    // Waits past the bound, so that a slow run still tells how long it took.
    ASSERT_TRUE(recorder.waitForEnd(std::chrono::milliseconds(boundMs) + 60s))
        << "no final notification";
    ASSERT_TRUE(TCommThread::waitForWorkers(15000));
    runOver = true;

    const std::vector<Posted> posted = recorder.all();
    const Posted end = recorder.end();
    const std::int64_t elapsed = msBetween(startedAt, end.at);

    // Exactly one final notification, the last one, carrying the expected code and value.
    EXPECT_EQ(std::count_if(posted.begin(), posted.end(),
                            [](const Posted& p) { return isFinal(p.code); }),
              1);
    EXPECT_TRUE(isFinal(posted.back().code));
    EXPECT_EQ(end.code, c.expected.code);
    EXPECT_EQ(end.value, c.expected.value);

    // The port was released before the final notification went out.
    if (c.port == PortSetup::Simulator && !logger.sim().vanished()) {
        EXPECT_TRUE(seen.portOpenable) << "the port could not be opened again";
    }
    if (isDevice) {
        const int stillHeldByOthers = logger.sim().vanished() ? 0 : othersHold;
        EXPECT_EQ(seen.descriptorsAtEnd.load(), stillHeldByOthers)
            << "a handle to the port was still open";
    }
    if (held != platform::kInvalidSerialHandle) {
        platform::serialClose(held);
    }

    // Nothing left of the tool run.
    EXPECT_TRUE(fs::is_empty(tmp_)) << "files left in the temporary directory";

    // A success only for a module that runs the image's class and version, and says so.
    const sim::ModuleFirmware module = logger.sim().moduleFirmware();
    if (end.code == kNotifySuccess) {
        ASSERT_GE(selectedFirmwareIndex.load(), 1);
        TBl3FileHeader image;
        getFirmwareHeader(selectedFirmwareIndex.load(), image);
        const std::uint16_t version = makeWord(static_cast<std::uint8_t>(image.qor_verH),
                                               static_cast<std::uint8_t>(image.qor_verL));
        EXPECT_EQ(module.fwClass, image.qor_class);
        EXPECT_EQ(module.version, version);
        std::int32_t lastClass = -1;
        std::int32_t lastVersion = -1;
        for (const auto& p : posted) {
            lastClass = p.code == kNotifyClass ? p.value : lastClass;
            lastVersion = p.code == kNotifyVersion ? p.value : lastVersion;
        }
        EXPECT_EQ(lastClass, image.qor_class);
        EXPECT_EQ(lastVersion, version);
    }

    // Within the time the run's stages allow; no shortcut past a wait that must happen.
    EXPECT_LE(elapsed, static_cast<std::int64_t>(boundMs));
    EXPECT_GE(elapsed, static_cast<std::int64_t>(c.atLeastMs));
    if (c.cancel.when != CancelRequest::When::Never) {
        ASSERT_TRUE(seen.cancelled) << "the cancel request was never made";
        std::lock_guard lock(seen.mutex);
        EXPECT_LE(msBetween(seen.cancelledAt, end.at),
                  static_cast<std::int64_t>(RunBudget().plus(c.cancel.latencyMs).withMargin()))
            << "the run went on too long after Cancel";
    }
    {
        std::lock_guard lock(seen.mutex);
        for (const auto& line : c.reportsLine) {
            EXPECT_NE(std::find(seen.lines.begin(), seen.lines.end(), line), seen.lines.end())
                << "not reported: " << line;
        }
    }
    recordRow(c, outcomeText(c.expected), outcomeText({end.code, end.value}), elapsed, boundMs);
}

INSTANTIATE_TEST_SUITE_P(Cases, FaultMatrixTest, ::testing::ValuesIn(faultCases()),
                         [](const auto& test) { return test.param.name; });

// The same faults through the headless program: its exit status and its last report line.
class FaultMatrixProgramTest : public FaultMatrixTest {};

struct ProgramResult {
    int status;
    std::string out;
};

ProgramResult runProgram(const std::string& program, const std::string& args) {
    const std::string command = program + " " + args + " </dev/null 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    std::size_t n = 0;
    while (pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    const int raw = pipe != nullptr ? ::pclose(pipe) : -1;
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, out};
}

TEST_P(FaultMatrixProgramTest, ExitStatus) {
    const FaultCase& c = GetParam();
    sim::test::RunningSim logger(configFor(c));
    const std::string port = portFor(c);
    platform::SerialHandle held = platform::kInvalidSerialHandle;
    if (c.port == PortSetup::HeldByAnother) {
        held = platform::serialOpen(port, 9600);
        ASSERT_NE(held, platform::kInvalidSerialHandle);
    }
    std::string args = "--port " + port + " --yes --max-restarts 0";
    if (c.readInfoOnly) {
        args += " --read-info-only";
    }
    const auto startedAt = Clock::now();
    const ProgramResult result =
        runProgram(c.transfer == Transfer::Block ? QOR_CLI_KIND4_PATH : QOR_CLI_PATH, args);
    const std::int64_t elapsed = msBetween(startedAt, Clock::now());
    platform::serialClose(held);

    EXPECT_EQ(result.status, exitStatusFor(c.expected)) << result.out;
    if (c.expected.code == kNotifyFailure) {
        EXPECT_NE(result.out.find(" -> " + failureText(c.expected.value, port) + "\n"),
                  std::string::npos)
            << result.out;
    }
    EXPECT_TRUE(fs::is_empty(tmp_)) << "files left in the temporary directory";
    // A run that ends for lack of answers is restarted after the front end's pause, and the
    // program gives up at once.
    const std::uint32_t boundMs =
        c.budget.plus(c.expected.code == kNotifyNoAnswer ? kRestartDelayMs : 0).withMargin();
    EXPECT_LE(elapsed, static_cast<std::int64_t>(boundMs));
    recordRow(c, "exit " + std::to_string(exitStatusFor(c.expected)),
              "exit " + std::to_string(result.status), elapsed, boundMs);
}

INSTANTIATE_TEST_SUITE_P(Cases, FaultMatrixProgramTest, ::testing::ValuesIn(programCases()),
                         [](const auto& test) { return test.param.name; });

}  // namespace
}  // namespace qor
