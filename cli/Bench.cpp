#include "cli/Bench.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>

#include "cli/CliFrontEnd.h"
#include "engine/Exceptions.h"
#include "frontend/PortNames.h"
#include "platform/CommandLine.h"
#include "platform/PortTable.h"
#include "platform/Process.h"
#include "platform/ProgramParameters.h"

namespace qor::cli {
namespace {

using Clock = std::chrono::steady_clock;

// How often the bench looks at its runs and at Ctrl-C, and how often watch mode reads the port
// table again.
constexpr auto kTick = std::chrono::milliseconds(100);
constexpr auto kPortPoll = std::chrono::milliseconds(500);

constexpr char kCancelLine[] = "cancel\n";

std::filesystem::path pathFromUtf8(const std::string& name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

}  // namespace

struct Bench::Job {
    std::string port;
    std::size_t row = 0;  // its place in the summary
    Clock::time_point startedAt;
    platform::ProcessInfo process;
    platform::NativeHandle input = 0;   // the run's standard input, for "cancel"
    platform::NativeHandle output = 0;  // its standard output and error
    std::thread reader;
    std::atomic<bool> outputEnded{false};

    std::mutex mutex;  // guards what the reader found
    std::optional<RunFacts> record;
    std::string lastLine;

    ~Job() {
        if (reader.joinable()) {
            reader.join();
        }
        platform::handleClose(input);
        platform::handleClose(output);
        platform::processClose(process);
    }

    // Whole lines from the run until it closes its output: the record is kept, every other
    // line printed.
    void read(BenchOutput& out) {
        const auto take = [&](std::string line) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            std::optional<RunFacts> facts = readRecordLine(line);
            std::lock_guard lock(mutex);
            if (facts) {
                record = std::move(facts);
                return;
            }
            lastLine = line;
            out.runLine(port, line);
        };
        std::string pending;
        char buffer[4096];
        std::uint32_t received = 0;
        while (platform::pipeRead(output, buffer, sizeof buffer, received) && received > 0) {
            pending.append(buffer, received);
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                take(pending.substr(0, end));
                pending.erase(0, end + 1);
            }
        }
        if (!pending.empty()) {
            take(pending);
        }
        outputEnded = true;
    }
};

Bench::Bench(CliOptions options, std::ostream& out, std::ostream& err, bool live,
             const std::atomic<int>& interrupts)
    : options_(std::move(options)),
      out_(out),
      err_(err),
      interrupts_(interrupts),
      output_(out, err, live) {}

Bench::~Bench() = default;

bool Bench::checkInput() {
    if (options_.watch && !platform::serialDevicesReadable()) {
        err_ << "qor-ble-update-cli: --watch cannot see ports arrive: the system's table of "
                "serial ports cannot be read\n";
        return false;
    }
    if (!options_.jsonFile.empty()) {
        json_.open(pathFromUtf8(options_.jsonFile), std::ios::app);
        if (!json_) {
            err_ << "qor-ble-update-cli: --json: cannot append to \"" << options_.jsonFile
                 << "\"\n";
            return false;
        }
    }
    return true;
}

std::vector<std::string> Bench::portsAtHand() const {
    std::vector<std::string> ports = options_.ports;
    if (options_.allPorts || (options_.watch && options_.ports.empty())) {
        for (const std::string& port : listOfferedPorts()) {
            if (std::find(ports.begin(), ports.end(), port) == ports.end()) {
                ports.push_back(port);
            }
        }
    }
    return ports;
}

std::string Bench::childCommandLine(const std::string& port) const {
    std::string line = platform::quoteProgram(program_) + " --bench-child --yes --port " +
                       platform::quoteArgument(port);
    if (options_.readInfoOnly) {
        line += " --read-info-only";
    }
    if (options_.noClassCheck) {
        line += " --no-class-check";
    }
    if (!options_.descriptorFile.empty()) {
        line += " --descriptor " + platform::quoteArgument(options_.descriptorFile);
    }
    if (options_.maxRestarts) {
        line += " --max-restarts " + std::to_string(*options_.maxRestarts);
    }
    return line;
}

void Bench::start(const std::string& port) {
    auto job = std::make_unique<Job>();
    job->port = port;
    job->row = rows_.size();
    job->startedAt = Clock::now();
    BenchRow& row = rows_.emplace_back();
    row.port = port;
    row.exitStatus = kExitOtherFailure;
    row.startedAt = std::time(nullptr);

    platform::NativeHandle childInput = 0;
    platform::NativeHandle childOutput = 0;
    const platform::SecurityAttributes inheritable{nullptr, true};
    bool ok = platform::pipeCreateToChild(childInput, job->input) &&
              platform::pipeCreate(0, &inheritable, job->output, childOutput);
    if (ok) {
        platform::ProcessStartInfo info;
        info.commandLine = childCommandLine(port);
        info.stdIn = childInput;
        info.stdOut = childOutput;
        info.stdErr = childOutput;
        // Ctrl-C at the terminal is the bench's to handle; it reaches a run through its input.
        info.newConsole = true;
        ok = platform::processStart(info, job->process);
    }
    const std::uint32_t error = ok ? 0 : platform::lastError();
    // Only the run holds these ends now, so that its output ends when it does.
    platform::handleClose(childInput);
    platform::handleClose(childOutput);
    if (!ok) {
        row.facts.outcome = "The run could not be started: " + platform::errorText(error);
        output_.runLine(port, row.facts.outcome);
        appendRecord(row);
        return;
    }
    output_.runStarted(port);
    Job& started = *job;
    job->reader = std::thread([&started, this] { started.read(output_); });
    running_.push_back(std::move(job));
}

bool Bench::collectEnded() {
    for (auto it = running_.begin(); it != running_.end();) {
        Job& job = **it;
        if (!job.outputEnded ||
            platform::processWait(job.process, 0) != platform::WaitResult::Ended) {
            ++it;
            continue;
        }
        job.reader.join();
        std::uint32_t status = kExitOtherFailure;
        platform::processExitCode(job.process, status);
        BenchRow& row = rows_[job.row];
        row.exitStatus = static_cast<int>(status);
        row.seconds = std::chrono::duration<double>(Clock::now() - job.startedAt).count();
        if (job.record) {
            row.facts = *job.record;
        } else {
            row.facts.outcome = "The run ended without its record (exit status " +
                                std::to_string(status) + ")" +
                                (job.lastLine.empty() ? "" : ": " + job.lastLine);
        }
        appendRecord(row);
        output_.runEnded(job.port);
        it = running_.erase(it);
    }
    return running_.empty();
}

void Bench::appendRecord(const BenchRow& row) {
    if (json_.is_open()) {
        // Each run as soon as it has ended, so that the record survives whatever comes next.
        json_ << jsonLine(row) << "\n" << std::flush;
    }
}

void Bench::cancelRunning() {
    for (const auto& job : running_) {
        std::uint32_t written = 0;
        platform::pipeWrite(job->input, kCancelLine, sizeof kCancelLine - 1, written);
    }
}

void Bench::lookForArrivals() {
    const std::vector<std::string> offered = listOfferedPorts();
    const std::set<std::string> now(offered.begin(), offered.end());
    std::erase_if(present_, [&](const std::string& port) { return now.count(port) == 0; });
    std::erase_if(waiting_, [&](const std::string& port) { return now.count(port) == 0; });
    std::set<std::string> seenOnce;
    for (const std::string& port : offered) {
        if (present_.count(port) != 0) {
            continue;
        }
        if (candidates_.count(port) != 0) {
            present_.insert(port);
            waiting_.push_back(port);
        } else {
            seenOnce.insert(port);
        }
    }
    candidates_ = std::move(seenOnce);
}

void Bench::startWaiting() {
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        const bool busy = std::any_of(running_.begin(), running_.end(),
                                      [&](const auto& job) { return job->port == *it; });
        if (busy) {
            ++it;
            continue;
        }
        start(*it);
        it = waiting_.erase(it);
    }
}

int Bench::run(const Confirm& confirm) {
    if (!checkInput()) {
        return kExitUsage;
    }
    if (!options_.descriptorFile.empty() && !selectDescriptorFile(options_.descriptorFile, err_)) {
        return kExitOtherFailure;
    }
    program_ = platform::programPath();
    if (program_.empty()) {
        err_ << "qor-ble-update-cli: cannot find the program's own file to run the updates\n";
        return kExitOtherFailure;
    }
    const std::vector<std::string> ports = portsAtHand();
    if (ports.empty() && !options_.watch) {
        err_ << "qor-ble-update-cli: --all-ports: no logger port is plugged in\n";
        return cEX_PORT_OPEN;
    }
    if (!confirm()) {
        err_ << "Nothing was started.\n";
        return kExitSuccess;
    }

    if (options_.watch) {
        const std::vector<std::string> offered = listOfferedPorts();
        present_.insert(offered.begin(), offered.end());
        output_.note(
            "Watching for loggers; Ctrl-C stops taking new ones, a second Ctrl-C cancels the "
            "running updates.");
    }
    for (const std::string& port : ports) {
        start(port);
    }
    // Without --watch there is nothing new to take: the first Ctrl-C cancels, like Cancel.
    bool stopping = !options_.watch;
    bool cancelling = false;
    int interruptsSeen = 0;
    auto lastPoll = Clock::now();
    while (!collectEnded() || !stopping) {
        for (const int pressed = interrupts_.load(); interruptsSeen < pressed; ++interruptsSeen) {
            if (!stopping) {
                stopping = true;
                waiting_.clear();
                output_.note(
                    "Ctrl-C: no new loggers are taken; the running updates finish (Ctrl-C again "
                    "cancels them).");
            } else if (!cancelling) {
                cancelling = true;
                output_.note("Ctrl-C: the running updates are cancelled.");
            }
        }
        // Again at every turn: a run that had not yet started listening gets it too.
        if (cancelling) {
            cancelRunning();
        }
        if (!stopping && Clock::now() - lastPoll >= kPortPoll) {
            lastPoll = Clock::now();
            lookForArrivals();
            startWaiting();
        }
        std::this_thread::sleep_for(kTick);
    }

    out_ << "\n";
    if (rows_.empty()) {
        out_ << "No logger was updated.\n";
    } else {
        printSummary(out_, rows_);
    }
    out_ << std::flush;
    return benchExitStatus(rows_);
}

}  // namespace qor::cli
