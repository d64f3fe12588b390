#include "tools/sim/Options.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <optional>
#include <string_view>

namespace qor::sim {
namespace {

const std::string kHelp = R"(Usage: qor-logger-sim [options]

Plays a QOR BLE-Z40 logger with its radio module on a pseudo-terminal. The first line on
standard output is the path of the slave side: open it as the logger's serial port. The
simulator serves it until interrupted (SIGINT, SIGTERM) or, with --once, until one update is
over.

The logger answers 8-byte command frames (CRC-8/MAXIM) at 9600 baud: command 1 (logger
identity), 2 (pass-through to the radio module) and 3 with selectors 0, 1 and 2 (module
identity). Frames with a wrong CRC, another length, other parameter bytes or sent at another
speed get no answer; reset frames (eight zeros) get none either. After command 2 the line goes
through to the module's bootloader at 57600 baud, across the host closing and reopening the
port, until the module restarts after a transfer or the line has been idle too long.

General options:
  --help                      print this text and exit
  --link PATH                 also make a symlink PATH to the slave (replaces a symlink
                              there, refuses anything else; removed at exit)
  --once                      end after one update: once a pass-through session has ended and
                              the logger has answered a command after it, exit when the host
                              closes the port
  --realtime                  bytes move at the line speed (10 bit times per byte) and the
                              module takes real time for flash (page erase 85 ms, 41 us per
                              32-bit word: about 127 ms per 4096-byte object) and restarts;
                              default: everything as fast as possible
  --transcript FILE           write every byte each way with time stamps (format below)
  --passthrough-idle SECONDS  end pass-through after this long without traffic either way
                              and reset the module (default 5; decimals allowed; 0: never);
                              a Nordic bootloader keeps the init packet it received across
                              the reset, not the image data
  --bootloader nordic|block   the radio module's bootloader (default nordic)
  --public-key FILE           PEM ECDSA P-256 public key that init packets must be signed
                              with (default: the built-in development key)

Identity (numbers in decimal or 0x hexadecimal, 0 to 65535):
  --logger-class N            logger class, command 1 (default 26145)
  --logger-version W          logger firmware version word, command 1 (default 0x010A)
  --module-update-class N     module update class, command 3 selector 2 (default 26156)
  --module-platform N         module platform, command 3 selector 2 (default 18)
  --module-print N            module print, command 3 selector 2 (default 35)
  --firmware-class N          module firmware class, command 3 selector 0; 0 means no known
                              firmware (default 26156)
  --firmware-version W        module firmware version word, selector 0 (default 0x0201)
  --firmware-print N          module firmware print, selector 0 (default 35)
  --firmware-platform N       module firmware platform, selector 1 (default 18)
  --class-after-update N      firmware class the module reports after an update (default:
                              its update class)
  --version-after-update W    version word it reports after an update (default: Nordic: the
                              image's fw_version, 20500 is 0x0205; block: 0x0205)

Nordic bootloader: SLIP requests ping, protocol version, PRN, MTU (131), select, create
(command object up to 512 bytes, data objects of 4096), write, checksum, execute, hardware
version, firmware version, abort. The init packet must decode, be signed (ECDSA P-256 with the
public key), be an application for hardware version 52 with SoftDevice 0xB6 in sd_req, carry a
SHA-256 hash, a fw_version not below the installed one and an app_size that fits; the image
must match the hash. After the last execute the module restarts into the new image (or into its
old one when the hash failed).

Block bootloader: once the host has the line open at 57600 baud it sends its power-on report
and waits for the acknowledgement (the report's header byte, 00, CRC-8); then it answers
announce (12), write block (14) and finish (13) with status 10, or 11 for what it refuses:
blocks must come in order (the last block may come again), at most 1024 bytes, within the
announced length; finish needs every announced byte. After finish the module restarts into the
new image. Frames with a wrong CRC get no answer.

Block bootloader power-on report:
  --report-values CL,PF,PR,V,B  the report's values (default: the module's update class,
                              platform and print, 1, 4)
  --report-text TEXT          the report's text (default QOR-BL; at most 200 characters)
  --report-flags N            the report's flag byte, 0 to 255 (default 1; bit 0 clear makes
                              the report invalid)
  --report-frame HEX          send this frame instead: header, length and data as hex bytes
                              (the CRC-8 is appended), for malformed reports
  --report-bad-crc            send the report with a wrong CRC-8
  --no-report                 send no power-on report

Logger command faults (repeatable). CMD is 1, 2 or 3, or 3.S for command 3 with selector S.
K counts the valid frames of that command the logger received since it started, from 1:
  --no-answer CMD[:K]         no answer from attempt K on (default 1: never)
  --wrong-crc CMD:K           answer attempt K with a wrong CRC
  --late-byte CMD:K[:MS]      answer attempt K with 7 bytes and the 8th MS ms later
                              (default 300)
  --exception CMD[:K]         set the exception bit 0x20 in the answers from attempt K on
                              (default 1); a command 2 answered so does not switch
  --garbage CMD:K[:N]         send N garbage bytes 0xA5 (default 3) before the answer to
                              attempt K

Radio module faults:
  --dfu-silent                the Nordic bootloader answers nothing, not even a ping
  --dfu-stall-after N         the Nordic bootloader hangs once it has received N bytes (counted
                              since start) until the module is reset
  --dfu-corrupt-byte OFFSET   the firmware byte at this image offset is received altered (once)
  --dfu-refuse-init EXT       refuse every init packet with this extended error (1 to 13)
  --vanish-after N            the port vanishes (the pseudo-terminal closes, the simulator
                              ends) when N bytes have come in through pass-through
  Block bootloader faults (repeatable); CMD is 12 (announce), 13 (finish) or 14 (write block),
  K counts the frames of that command received, from 1:
  --block-status CMD:STATUS[:K]  answer attempt K (default 1) with this status (11: refused)
  --block-late CMD:MS[:K]     answer attempt K (default 1) MS ms late
  --block-bad-crc CMD[:K]     answer attempt K (default 1) with a wrong CRC-16

Line faults, while the logger passes the line through (either bootloader):
  --line-damage P             each byte either way arrives with one random bit flipped with
                              probability P (0 to 1, such as 1e-4 or 0.0001; default 0)
  --line-loss L               each byte to the module is lost with probability L (0 to 1;
                              default 0)
  --line-seed N               seed of the line faults (default 1): the same seed damages and
                              loses the same bytes (counted each way) again; the transcript
                              notes every damaged or lost byte

Transcript: one line per chunk of bytes or event, fields separated by one blank:
  <time> <dir> <state> <baud> <payload>
  time     microseconds since the start; for bytes when the first was on the line
  dir      rx (host to device), tx (device to host) or ev (event, payload is text)
  state    logger, nordic, block (pass-through to that bootloader), restart (module
           restarting) or gone (port vanished)
  baud     rx: the speed the host had set; tx: the device's speed; ev: -
  payload  bytes as two upper-case hex digits separated by blanks, or the event's text
  Lines starting with # are comments. The rx and tx lines show the bytes as the host sent and
  received them. With line faults an event names each byte that did not arrive as sent, as
  line: rx byte N lost XX, line: rx byte N damaged XX -> YY or line: tx byte N damaged XX -> YY,
  where N counts the bytes passed through in that direction from 0.

Exit status: 0 when interrupted, after a --once run or after the port vanished; 1 when the
simulator cannot run; 2 for a wrong command line.
)";

using Handler = std::function<std::string(Config&, const std::string&)>;

struct OptionEntry {
    std::string_view name;
    bool takesValue;
    Handler apply;
};

std::optional<std::uint64_t> parseNumber(std::string_view text, std::uint64_t max) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > max) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type from = 0;
    for (;;) {
        const auto at = text.find(separator, from);
        parts.push_back(text.substr(from, at - from));
        if (at == std::string::npos) {
            return parts;
        }
        from = at + 1;
    }
}

// A numeric option within [min, max]; set stores the value.
template <typename Set>
Handler numeric(std::uint64_t min, std::uint64_t max, Set set) {
    return [=](Config& c, const std::string& v) -> std::string {
        const auto n = parseNumber(v, max);
        if (!n || *n < min) {
            return "expects a number from " + std::to_string(min) + " to " + std::to_string(max);
        }
        set(c, *n);
        return {};
    };
}

// A 16-bit value somewhere in the Config.
template <typename Field>
Handler word(Field field) {
    return numeric(0, 0xFFFF, [field](Config& c, std::uint64_t n) {
        field(c) = static_cast<std::uint16_t>(n);
    });
}

// An option without a value.
template <typename Set>
Handler flag(Set set) {
    return [=](Config& c, const std::string&) -> std::string {
        set(c);
        return {};
    };
}

constexpr std::uint64_t kMaxCount = std::numeric_limits<std::uint32_t>::max();

std::optional<CommandKey> parseCommandKey(const std::string& text) {
    const auto parts = split(text, '.');
    const auto code = parseNumber(parts[0], 3);
    if (!code || *code == 0 || parts.size() > 2) {
        return std::nullopt;
    }
    CommandKey key{static_cast<std::uint8_t>(*code), std::nullopt};
    if (parts.size() == 2) {
        const auto selector = parseNumber(parts[1], 2);
        if (*code != 3 || !selector) {
            return std::nullopt;
        }
        key.selector = static_cast<std::uint8_t>(*selector);
    }
    return key;
}

// CMD, then an attempt (optional or required), then an optional parameter.
Handler linkFault(LinkFaultKind kind, bool attemptRequired, bool fromAttemptOn,
                  std::optional<std::uint32_t> defaultParameter, std::uint32_t maxParameter) {
    return [=](Config& c, const std::string& v) -> std::string {
        const auto parts = split(v, ':');
        const std::size_t maxParts = defaultParameter ? 3 : 2;
        const std::size_t minParts = attemptRequired ? 2 : 1;
        LinkFault fault{kind, {}, 1, fromAttemptOn, defaultParameter.value_or(0)};
        const auto key = parseCommandKey(parts[0]);
        std::optional<std::uint64_t> attempt = 1;
        if (parts.size() >= 2) {
            attempt = parseNumber(parts[1], kMaxCount);
        }
        std::optional<std::uint64_t> parameter = fault.parameter;
        if (parts.size() == 3) {
            parameter = parseNumber(parts[2], maxParameter);
        }
        if (parts.size() < minParts || parts.size() > maxParts || !key || !attempt ||
            *attempt == 0 || !parameter) {
            return "expects CMD" + std::string(attemptRequired ? ":K" : "[:K]") +
                   (defaultParameter ? "[:" + std::to_string(maxParameter) + " at most]" : "") +
                   " with CMD 1, 2, 3 or 3.0 to 3.2 and K from 1";
        }
        fault.command = *key;
        fault.attempt = static_cast<std::uint32_t>(*attempt);
        fault.parameter = static_cast<std::uint32_t>(*parameter);
        c.linkFaults.push_back(fault);
        return {};
    };
}

// CMD, an optional or required value, an optional attempt.
Handler blockFault(BlockFaultKind kind, bool takesValue, std::uint32_t maxValue) {
    return [=](Config& c, const std::string& v) -> std::string {
        const auto parts = split(v, ':');
        const std::size_t valueParts = takesValue ? 1 : 0;
        const auto command = parseNumber(parts[0], 14);
        std::optional<std::uint64_t> value = 0;
        if (takesValue && parts.size() >= 2) {
            value = parseNumber(parts[1], maxValue);
        }
        std::optional<std::uint64_t> attempt = 1;
        if (parts.size() == 2 + valueParts) {
            attempt = parseNumber(parts[1 + valueParts], kMaxCount);
        }
        if (parts.size() < 1 + valueParts || parts.size() > 2 + valueParts || !command ||
            *command < 12 || !value || !attempt || *attempt == 0) {
            return takesValue ? "expects CMD:VALUE[:K] with CMD 12, 13 or 14 and K from 1"
                              : "expects CMD[:K] with CMD 12, 13 or 14 and K from 1";
        }
        c.blockFaults.push_back({kind, static_cast<std::uint8_t>(*command),
                                 static_cast<std::uint32_t>(*attempt),
                                 static_cast<std::uint32_t>(*value)});
        return {};
    };
}

std::optional<std::chrono::milliseconds> parseSeconds(const std::string& text) {
    const auto dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    if (whole.empty() || fraction.size() > 3 || (dot != std::string::npos && fraction.empty())) {
        return std::nullopt;
    }
    const auto seconds = parseNumber(whole, 86400);
    fraction.resize(3, '0');
    const auto millis = parseNumber(fraction, 999);
    if (!seconds || !millis || whole.starts_with("0x")) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(*seconds * 1000 + *millis);
}

std::optional<std::vector<std::uint8_t>> parseHexBytes(const std::string& text) {
    std::string digits;
    for (const char ch : text) {
        if (ch != ' ') {
            digits += ch;
        }
    }
    if (digits.empty() || digits.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        std::uint8_t b = 0;
        const auto [end, ec] = std::from_chars(digits.data() + i, digits.data() + i + 2, b, 16);
        if (ec != std::errc() || end != digits.data() + i + 2) {
            return std::nullopt;
        }
        bytes.push_back(b);
    }
    return bytes;
}

// A probability from 0 to 1, in decimal or exponent notation.
Handler probability(double LineFaults::*field) {
    return [field](Config& c, const std::string& v) -> std::string {
        double value = -1.0;
        const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
        if (v.empty() || ec != std::errc() || end != v.data() + v.size() || !(value >= 0.0) ||
            value > 1.0) {
            return "expects a probability from 0 to 1, such as 1e-4";
        }
        c.line.*field = value;
        return {};
    };
}

std::string readFile(const std::string& path, std::string& out) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return "cannot read " + path;
    }
    out.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return out.empty() ? path + " is empty" : "";
}

const std::vector<OptionEntry>& optionTable() {
    static const std::vector<OptionEntry> table = {
        {"--link", true,
         [](Config& c, const std::string& v) -> std::string {
             c.linkPath = v;
             return v.empty() ? "expects a path" : "";
         }},
        {"--once", false, flag([](Config& c) { c.once = true; })},
        {"--realtime", false, flag([](Config& c) { c.realtime = true; })},
        {"--transcript", true,
         [](Config& c, const std::string& v) -> std::string {
             c.transcriptPath = v;
             return v.empty() ? "expects a file name" : "";
         }},
        {"--passthrough-idle", true,
         [](Config& c, const std::string& v) -> std::string {
             const auto idle = parseSeconds(v);
             if (!idle) {
                 return "expects seconds, such as 5 or 0.5";
             }
             c.passThroughIdle = *idle;
             return {};
         }},
        {"--bootloader", true,
         [](Config& c, const std::string& v) -> std::string {
             if (v == "nordic") {
                 c.bootloader = BootloaderKind::Nordic;
             } else if (v == "block") {
                 c.bootloader = BootloaderKind::Block;
             } else {
                 return "expects nordic or block";
             }
             return {};
         }},
        {"--public-key", true,
         [](Config& c, const std::string& v) { return readFile(v, c.publicKeyPem); }},
        {"--logger-class", true,
         word([](Config& c) -> std::uint16_t& { return c.identity.loggerClass; })},
        {"--logger-version", true,
         word([](Config& c) -> std::uint16_t& { return c.identity.loggerVersion; })},
        {"--module-update-class", true,
         word([](Config& c) -> std::uint16_t& { return c.identity.updateClass; })},
        {"--module-platform", true,
         word([](Config& c) -> std::uint16_t& { return c.identity.platform; })},
        {"--module-print", true,
         word([](Config& c) -> std::uint16_t& { return c.identity.print; })},
        {"--firmware-class", true,
         word([](Config& c) -> std::uint16_t& { return c.identity.firmware.fwClass; })},
        {"--firmware-version", true,
         word([](Config& c) -> std::uint16_t& { return c.identity.firmware.version; })},
        {"--firmware-print", true,
         word([](Config& c) -> std::uint16_t& { return c.identity.firmware.print; })},
        {"--firmware-platform", true,
         word([](Config& c) -> std::uint16_t& { return c.identity.firmware.platform; })},
        {"--class-after-update", true,
         word([](Config& c) -> std::uint16_t& { return c.identity.classAfterUpdate.emplace(); })},
        {"--version-after-update", true,
         word([](Config& c) -> std::uint16_t& { return c.identity.versionAfterUpdate.emplace(); })},
        {"--report-values", true,
         [](Config& c, const std::string& v) -> std::string {
             const auto parts = split(v, ',');
             std::vector<std::uint64_t> n;
             for (std::size_t i = 0; i < parts.size(); ++i) {
                 const auto value = parseNumber(parts[i], i < 3 ? 0xFFFF : 0xFF);
                 if (!value) {
                     break;
                 }
                 n.push_back(*value);
             }
             if (parts.size() != 5 || n.size() != 5) {
                 return "expects CL,PF,PR,V,B (three numbers to 65535, two to 255)";
             }
             c.report.cl = static_cast<std::uint16_t>(n[0]);
             c.report.pf = static_cast<std::uint16_t>(n[1]);
             c.report.pr = static_cast<std::uint16_t>(n[2]);
             c.report.v = static_cast<std::uint8_t>(n[3]);
             c.report.b = static_cast<std::uint8_t>(n[4]);
             return {};
         }},
        {"--report-text", true,
         [](Config& c, const std::string& v) -> std::string {
             c.report.text = v;
             return v.size() > 200 ? "expects at most 200 characters" : "";
         }},
        {"--report-flags", true,
         numeric(
             0, 0xFF,
             [](Config& c, std::uint64_t n) { c.report.flags = static_cast<std::uint8_t>(n); })},
        {"--report-frame", true,
         [](Config& c, const std::string& v) -> std::string {
             auto bytes = parseHexBytes(v);
             if (!bytes || bytes->size() < 2 || bytes->size() > 300) {
                 return "expects 2 to 300 bytes in hex, such as \"08 07 01 00 2C 66 12 00 23 00\"";
             }
             c.report.rawFrame = std::move(bytes);
             return {};
         }},
        {"--report-bad-crc", false, flag([](Config& c) { c.report.badCrc = true; })},
        {"--no-report", false, flag([](Config& c) { c.report.send = false; })},
        {"--no-answer", true, linkFault(LinkFaultKind::NoAnswer, false, true, std::nullopt, 0)},
        {"--wrong-crc", true, linkFault(LinkFaultKind::WrongCrc, true, false, std::nullopt, 0)},
        {"--late-byte", true, linkFault(LinkFaultKind::LateLastByte, true, false, 300, 60000)},
        {"--exception", true, linkFault(LinkFaultKind::Exception, false, true, std::nullopt, 0)},
        {"--garbage", true, linkFault(LinkFaultKind::Garbage, true, false, 3, 64)},
        {"--dfu-silent", false, flag([](Config& c) { c.nordic.silent = true; })},
        {"--dfu-stall-after", true,
         numeric(1, kMaxCount, [](Config& c, std::uint64_t n) { c.nordic.stallAfterBytes = n; })},
        {"--dfu-corrupt-byte", true,
         numeric(0, kMaxCount,
                 [](Config& c, std::uint64_t n) {
                     c.nordic.corruptImageByte = static_cast<std::uint32_t>(n);
                 })},
        {"--dfu-refuse-init", true,
         numeric(1, 13,
                 [](Config& c, std::uint64_t n) {
                     c.nordic.refuseInit = static_cast<std::uint8_t>(n);
                 })},
        {"--line-damage", true, probability(&LineFaults::damage)},
        {"--line-loss", true, probability(&LineFaults::loss)},
        {"--line-seed", true,
         numeric(0, std::numeric_limits<std::uint64_t>::max(),
                 [](Config& c, std::uint64_t n) { c.line.seed = n; })},
        {"--vanish-after", true,
         numeric(1, kMaxCount, [](Config& c, std::uint64_t n) { c.vanishAfterBytes = n; })},
        {"--block-status", true, blockFault(BlockFaultKind::Status, true, 255)},
        {"--block-late", true, blockFault(BlockFaultKind::LateAnswer, true, 60000)},
        {"--block-bad-crc", true, blockFault(BlockFaultKind::BadCrc, false, 0)},
    };
    return table;
}

}  // namespace

ParsedOptions parseOptions(const std::vector<std::string>& args) {
    ParsedOptions parsed;
    const auto fail = [&parsed](std::string error) {
        parsed.outcome = ParsedOptions::Outcome::Error;
        parsed.error = std::move(error);
        return parsed;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            parsed.outcome = ParsedOptions::Outcome::Help;
            return parsed;
        }
        // --name=value is taken as well as --name value.
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        const auto& table = optionTable();
        const auto option = std::find_if(table.begin(), table.end(),
                                         [&name](const OptionEntry& s) { return s.name == name; });
        if (option == table.end()) {
            return fail("unknown option " + arg);
        }
        std::string value;
        if (option->takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return fail(name + " needs a value");
            }
        } else if (inlineValue) {
            return fail(name + " takes no value");
        }
        if (std::string error = option->apply(parsed.config, value); !error.empty()) {
            return fail(name + " " + value + ": " + error);
        }
    }
    return parsed;
}

const std::string& helpText() {
    return kHelp;
}

std::vector<std::string> optionNames() {
    std::vector<std::string> names;
    for (const OptionEntry& option : optionTable()) {
        names.emplace_back(option.name);
    }
    return names;
}

}  // namespace qor::sim
