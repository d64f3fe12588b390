// The DFU tool against the logger simulator: the logger switched to pass-through as the update
// procedure does it, then the tool talks to the simulated module's Nordic bootloader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/SerialPort.h"
#include "tests/dfu/DfuTestSupport.h"
#include "tools/dfu/DfuTool.h"

extern char** environ;

namespace qor::dfu {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

const fs::path kPackage = fs::path(QOR_SOURCE_DIR) / "firmware" / "builtin-package.zip";
constexpr std::uint32_t kFirmwareSize = 72092;

struct Child {
    pid_t pid = -1;
    int out = -1;  // read end of its standard output
};

Child spawn(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    Child child;
    const int rc = posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (rc != 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error("cannot start " + args[0]);
    }
    child.out = pipeFds[0];
    return child;
}

std::string readAll(int fd) {
    std::string out;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

// The simulator for one test, with its transcript in a file.
class Simulator {
  public:
    explicit Simulator(std::vector<std::string> options) {
        transcript_ = fs::temp_directory_path() / ("qor-dfu-sim-" + std::to_string(::getpid()) +
                                                   "-" + std::to_string(counter_++) + ".txt");
        std::vector<std::string> args{QOR_SIM_PATH, "--transcript", transcript_.string()};
        args.insert(args.end(), options.begin(), options.end());
        child_ = spawn(args);
        // Its first output line is the port.
        char c = 0;
        while (::read(child_.out, &c, 1) == 1 && c != '\n') {
            port_ += c;
        }
    }
    ~Simulator() {
        stop();
        ::close(child_.out);
        fs::remove(transcript_);
    }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    const std::string& port() const { return port_; }

    // Ends the simulator; its transcript is complete afterwards.
    void stop() {
        if (child_.pid > 0) {
            ::kill(child_.pid, SIGTERM);
            ::waitpid(child_.pid, nullptr, 0);
            child_.pid = -1;
        }
    }

    // Transcript lines of the given direction in the given state.
    std::size_t transcriptLines(const std::string& dir, const std::string& state) const {
        std::ifstream in(transcript_);
        std::size_t count = 0;
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            std::string time, d, s;
            fields >> time >> d >> s;
            count += d == dir && s == state ? 1 : 0;
        }
        return count;
    }

    // One command frame to the logger at 9600 baud and its 8-byte answer (empty: none).
    Bytes command(const Bytes& frame) const {
        const auto handle = platform::serialOpen(port_, 9600);
        if (handle == platform::kInvalidSerialHandle) {
            return {};
        }
        std::uint32_t done = 0;
        Bytes answer(8);
        platform::serialWrite(handle, frame.data(), 8, done);
        platform::serialRead(handle, answer.data(), 8, done);
        platform::serialClose(handle);
        answer.resize(done);
        return answer;
    }

    // Retried like the update procedure does: the simulator drops input it sees arrive around
    // a close of the port.
    void passThrough() const {
        Bytes answer;
        for (int attempt = 0; attempt < 5 && answer.empty(); ++attempt) {
            answer = command({0x82, 0x30, 0, 0, 0, 0, 0, 0x00});
        }
        ASSERT_EQ(answer.size(), 8u);
        ASSERT_EQ(answer[0], 0x82);
    }

    // Module firmware class and version word (command 3, selector 0), once the module answers.
    // Every frame sent while the line is still passed through counts as traffic, so the tries
    // are spaced wider than the simulator's pass-through idle time in these tests.
    std::pair<unsigned, unsigned> moduleFirmware() const {
        for (int attempt = 0; attempt < 10; ++attempt) {
            const Bytes a = command({0x83, 0x30, 0x00, 0, 0, 0, 0, 0x3D});
            if (a.size() == 8 && a[0] == 0x83) {
                return {a[1] | (a[2] << 8), a[3] | (a[4] << 8)};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
        }
        return {0, 0};
    }

  private:
    static inline int counter_ = 0;
    Child child_;
    std::string port_;
    fs::path transcript_;
};

Lines splitCrLf(const std::string& out) {
    Lines lines;
    std::size_t at = 0;
    for (std::size_t end; (end = out.find("\r\n", at)) != std::string::npos; at = end + 2) {
        lines.push_back(out.substr(at, end - at));
    }
    if (at != out.size()) {
        lines.push_back("<unterminated> " + out.substr(at));
    }
    return lines;
}

TEST(DfuSimulator, BuiltInPackageEndToEnd) {
    Simulator sim({});
    sim.passThrough();
    Child tool = spawn(
        {QOR_DFU_TOOL_PATH, "--qor", "-cd", "0", "-p", sim.port(), "-pkg", kPackage.string()});
    const std::string out = readAll(tool.out);
    ::close(tool.out);
    int status = 0;
    ::waitpid(tool.pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;

    Lines expected{"Start programming."};
    for (std::uint32_t position = 0; position < kFirmwareSize; position += 4096) {
        expected.push_back(std::to_string(position) + "/72092");
    }
    expected.push_back("72092/72092");
    expected.push_back("Device programmed.");
    EXPECT_EQ(splitCrLf(out), expected);
    const auto [fwClass, version] = sim.moduleFirmware();
    EXPECT_EQ(fwClass, 26156u);
    EXPECT_EQ(version, 0x0205u);
}

Lines runTool(const Simulator& sim, const std::string& package) {
    Lines lines;
    runDfuTool(
        {"--qor", "-cd", "0", "-p", sim.port(), "-pkg", package},
        [&](const std::string& line) { lines.push_back(line); }, test::quickDfuOptions());
    return lines;
}

TEST(DfuSimulator, ModuleFaults) {
    struct Case {
        const char* what;
        std::vector<std::string> options;
        const char* lastLine;
        unsigned versionAfter;
    };
    const std::vector<Case> cases = {
        {"silent bootloader",
         {"--dfu-silent"},
         "Error: No ping response after opening COM port",
         0x0201},
        {"init packet refused",
         {"--dfu-refuse-init", "12"},
         "Error: Bootloader refused execute object while sending the init packet: result code "
         "0x0B (extended error), extended error 0x0C (verification failed)",
         0x0201},
        {"stall", {"--dfu-stall-after", "20000"}, "Error: Failed to send firmware", 0x0201},
        // The altered object fails its checksum and is sent again.
        {"corrupted byte", {"--dfu-corrupt-byte", "5000"}, "Device programmed.", 0x0205},
        // Bytes damaged and lost on the relayed line both ways: objects sent again, lost
        // answers asked for.
        {"noisy line",
         {"--line-damage", "2e-4", "--line-loss", "2e-4", "--line-seed", "3"},
         "Device programmed.",
         0x0205},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto options = c.options;
        options.insert(options.end(), {"--passthrough-idle", "0.3"});
        Simulator sim(options);
        sim.passThrough();
        const Lines lines = runTool(sim, kPackage.string());
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(), "Start programming.");
        EXPECT_EQ(lines.back(), c.lastLine);
        EXPECT_EQ(sim.moduleFirmware().second, c.versionAfter);
    }
}

TEST(DfuSimulator, CorruptPackageSendsNothing) {
    std::ifstream in(kPackage, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 40000u);
    bytes[40000] = static_cast<char>(bytes[40000] ^ 0x10);  // inside the image
    const fs::path corrupt =
        fs::temp_directory_path() / ("qor-dfu-corrupt-" + std::to_string(::getpid()) + ".zip");
    std::ofstream(corrupt, std::ios::binary) << bytes;

    Simulator sim({});
    sim.passThrough();
    const Lines lines = runTool(sim, corrupt.string());
    fs::remove(corrupt);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("fails its CRC-32 check"), std::string::npos) << lines[0];
    sim.stop();
    EXPECT_EQ(sim.transcriptLines("rx", "nordic"), 0u);
}

}  // namespace
}  // namespace qor::dfu
