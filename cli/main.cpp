// qor-ble-update-cli: the headless front end of the radio-module update.
#include <iostream>
#include <string>
#include <vector>

#include "cli/CliFrontEnd.h"
#include "cli/CliOptions.h"
#include "cli/Listings.h"
#include "engine/KECommThread.h"
#include "engine/RunState.h"
#include "platform/Console.h"

namespace {

void cancelRun() {
    qor::cancelFlag.store(true, std::memory_order_relaxed);
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
    qor::CommThreadClass = &qor::createWorker<qor::TKECommThread>;
    qor::platform::onInterrupt(&cancelRun);
    CliFrontEnd frontEnd(*options, std::cout, std::cerr, qor::platform::stderrIsTerminal(),
                         &confirmOnTerminal);
    return frontEnd.run();
}
