#include "cli/BenchOutput.h"

#include <algorithm>
#include <charconv>

namespace qor::cli {
namespace {

constexpr const char* kReportSeparator = " -> ";
constexpr int kBarWidth = 20;

// The text of a report line after its time; the whole line when it is none.
std::string reportText(const std::string& line) {
    const auto at = line.find(kReportSeparator);
    return at == std::string::npos ? line : line.substr(at + 4);
}

}  // namespace

std::optional<int> progressOfReportLine(const std::string& line) {
    const auto at = line.find(kReportSeparator);
    const std::string_view text =
        at == std::string::npos ? std::string_view() : std::string_view(line).substr(at + 4);
    constexpr std::string_view kProgress = "Progress ";
    if (!text.starts_with(kProgress) || !text.ends_with('%')) {
        return std::nullopt;
    }
    const std::string_view digits =
        text.substr(kProgress.size(), text.size() - kProgress.size() - 1);
    int percent = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), percent);
    if (error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return percent;
}

BenchOutput::BenchOutput(std::ostream& out, std::ostream& err, bool live)
    : out_(out), err_(err), live_(live) {}

BenchOutput::Running* BenchOutput::find(const std::string& port) {
    const auto it = std::find_if(running_.begin(), running_.end(),
                                 [&](const Running& r) { return r.port == port; });
    return it == running_.end() ? nullptr : &*it;
}

void BenchOutput::runStarted(const std::string& port) {
    std::lock_guard lock(mutex_);
    if (!live_) {
        return;
    }
    erase();
    running_.push_back({port, 0, {}});
    draw();
}

void BenchOutput::runLine(const std::string& port, const std::string& line) {
    std::lock_guard lock(mutex_);
    Running* running = live_ ? find(port) : nullptr;
    const std::optional<int> percent = progressOfReportLine(line);
    if (running != nullptr && percent) {
        if (running->percent == *percent) {
            return;
        }
        running->percent = std::clamp(*percent, 0, 100);
    } else {
        if (running != nullptr) {
            running->latest = reportText(line);
        }
        erase();
        out_ << port << " | " << line << "\n";
    }
    if (live_) {
        erase();
        draw();
    }
    out_ << std::flush;
}

void BenchOutput::runEnded(const std::string& port) {
    std::lock_guard lock(mutex_);
    if (!live_) {
        return;
    }
    erase();
    std::erase_if(running_, [&](const Running& r) { return r.port == port; });
    draw();
}

void BenchOutput::note(const std::string& text) {
    std::lock_guard lock(mutex_);
    // The progress lines off the screen before the other stream writes there.
    erase();
    out_ << std::flush;
    err_ << text << "\n" << std::flush;
    if (live_) {
        draw();
    }
}

void BenchOutput::erase() {
    if (drawn_ > 0) {
        // Up to the first progress line, then everything below the cursor away.
        out_ << "\x1b[" << drawn_ << "A\r\x1b[J";
        drawn_ = 0;
    }
}

void BenchOutput::draw() {
    if (running_.empty()) {
        out_ << std::flush;
        return;
    }
    // Without line wrap a long line is cut at the terminal's edge and stays one line, so that
    // erase() knows how far up to go.
    out_ << "\x1b[?7l";
    for (const Running& r : running_) {
        const int filled = r.percent * kBarWidth / 100;
        out_ << r.port << " | [" << std::string(static_cast<std::size_t>(filled), '#')
             << std::string(static_cast<std::size_t>(kBarWidth - filled), '.') << "] ";
        out_.width(3);
        out_ << r.percent << "%  " << r.latest << "\n";
    }
    out_ << "\x1b[?7h" << std::flush;
    drawn_ = running_.size();
}

}  // namespace qor::cli
