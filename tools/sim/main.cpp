// qor-logger-sim: a QOR logger with its radio module on a pseudo-terminal (see --help).
#include <signal.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "tools/sim/Options.h"
#include "tools/sim/Simulator.h"

namespace {

qor::sim::Simulator* running = nullptr;

extern "C" void onSignal(int) {
    if (running != nullptr) {
        running->stop();
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const qor::sim::ParsedOptions parsed = qor::sim::parseOptions(args);
    switch (parsed.outcome) {
        case qor::sim::ParsedOptions::Outcome::Help:
            std::cout << qor::sim::helpText();
            return 0;
        case qor::sim::ParsedOptions::Outcome::Error:
            std::cerr << "qor-logger-sim: " << parsed.error << "\n"
                      << "Try qor-logger-sim --help.\n";
            return 2;
        case qor::sim::ParsedOptions::Outcome::Run:
            break;
    }
    try {
        qor::sim::Simulator simulator(parsed.config);
        running = &simulator;
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        std::cout << simulator.slavePath() << std::endl;
        simulator.run();
        running = nullptr;
        if (simulator.vanished()) {
            std::cerr << "qor-logger-sim: the port vanished\n";
        }
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "qor-logger-sim: " << e.what() << "\n";
        return 1;
    }
}
