// qor-ble-update-cli: the headless front end of the radio-module update.
#include <atomic>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/Bench.h"
#include "cli/CliFrontEnd.h"
#include "cli/CliOptions.h"
#include "cli/Listings.h"
#include "engine/KECommThread.h"
#include "engine/RunState.h"
#include "platform/Console.h"
#include "platform/TempFiles.h"

namespace {

void cancelRun() {
    qor::cancelFlag.store(true, std::memory_order_relaxed);
}

// Ctrl-C presses in bench mode, which decides what each one means.
std::atomic<int> interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

void countInterrupt() {
    interrupts.fetch_add(1, std::memory_order_relaxed);
}

// A bench run is cancelled through its standard input: the bench writes "cancel".
void cancelOnRequest() {
    std::thread([] {
        for (std::string line; std::getline(std::cin, line);) {
            if (line == "cancel" || line == "cancel\r") {
                cancelRun();
            }
        }
    }).detach();
}

// One run of a bench in a process of its own. Everything goes to standard output, which the
// bench reads line by line, and ends with the run's record.
int runForBench(const qor::cli::CliOptions& options) {
    using namespace qor::cli;
    qor::platform::keepRunningWhenOutputCloses();
    std::optional<qor::platform::PrivateTempDirectory> temp;
    try {
        temp.emplace();
    } catch (const std::exception& e) {
        RunFacts facts;
        facts.outcome = e.what();
        std::cout << "qor-ble-update-cli: " << e.what() << "\n" << recordLine(facts) << std::endl;
        return kExitOtherFailure;
    }
    cancelOnRequest();
    CliFrontEnd frontEnd(options, std::cout, std::cout, false);
    const int status = frontEnd.run();
    std::cout << recordLine(frontEnd.facts()) << std::endl;
    return status;
}

// A question of the Update button on the terminal, one line of it per line; Enter means Yes,
// the default.
bool confirmOnTerminal(const std::string& question) {
    std::string text = question;
    for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) {
        text.replace(at, 2, "\n         ");
    }
    std::cerr << "Confirm: " << text << " [Yes/no] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return false;
    }
    return answer.empty() || answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" ||
           answer == "YES";
}

}  // namespace

int main(int argc, char** argv) {
    using namespace qor::cli;
    std::string error;
    const auto options = parseCliOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::cerr << "qor-ble-update-cli: " << error << "\n\n" << cliUsage();
        return kExitUsage;
    }
    if (options->help) {
        std::cout << cliUsage();
        return kExitSuccess;
    }
    if (options->version) {
        std::cout << "qor-ble-update-cli " QOR_VERSION "\n";
        return kExitSuccess;
    }
    if (options->listPorts || options->firmware) {
        return printListings(*options, std::cout, std::cerr);
    }
    if (!options->yes && !qor::platform::stdinIsTerminal()) {
        std::cerr << "qor-ble-update-cli: the update may lose the logger's measurements; "
                     "confirm with --yes when no terminal can answer the question.\n";
        return kExitUsage;
    }
    if (options->benchMode()) {
        CliFrontEnd question(*options, std::cout, std::cerr, false, &confirmOnTerminal);
        qor::platform::onInterrupt(&countInterrupt);
        Bench bench(*options, std::cout, std::cerr, qor::platform::stdoutTakesCursorMoves(),
                    interrupts);
        return bench.run([&] { return question.confirmUpdate(); });
    }
    qor::CommThreadClass = &qor::createWorker<qor::TKECommThread>;
    qor::platform::onInterrupt(&cancelRun);
    if (options->benchChild) {
        return runForBench(*options);
    }
    CliFrontEnd frontEnd(*options, std::cout, std::cerr, qor::platform::stderrIsTerminal(),
                         &confirmOnTerminal);
    return frontEnd.run();
}
