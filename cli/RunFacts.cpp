#include "cli/RunFacts.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace qor::cli {
namespace {

constexpr const char* kRecordMarker = "#run-record ";

using Json = nlohmann::json;

// The fields of the record line; numbers as the notifications carried them.
struct Field {
    const char* name;
    std::optional<std::uint16_t> RunFacts::*member;
};
constexpr Field kFields[] = {
    {"loggerClass", &RunFacts::loggerClass},
    {"loggerVersion", &RunFacts::loggerVersion},
    {"moduleClassBefore", &RunFacts::moduleClassBefore},
    {"moduleVersionBefore", &RunFacts::moduleVersionBefore},
    {"moduleClassAfter", &RunFacts::moduleClassAfter},
    {"moduleVersionAfter", &RunFacts::moduleVersionAfter},
};

void setOnce(std::optional<std::uint16_t>& field, std::int32_t value) {
    if (!field) {
        field = static_cast<std::uint16_t>(value & 0xFFFF);
    }
}

}  // namespace

void RunFactsRecorder::take(const Notification& notification) {
    const std::int32_t value = notification.value;
    const bool isClass = notification.code == kNotifyClass;
    switch (notification.code) {
        case kNotifyClass:
        case kNotifyVersion:
            if (stage_ == Stage::Logger) {
                setOnce(isClass ? facts_.loggerClass : facts_.loggerVersion, value);
            } else if (stage_ == Stage::Module) {
                setOnce(isClass ? facts_.moduleClassBefore : facts_.moduleVersionBefore, value);
            } else {
                (isClass ? facts_.moduleClassAfter : facts_.moduleVersionAfter) =
                    static_cast<std::uint16_t>(value & 0xFFFF);
            }
            break;
        case kNotifyUpdateClass:
            stage_ = Stage::Module;
            break;
        case kNotifyNoFirmware:
            setOnce(facts_.moduleClassBefore, 0);
            break;
        case kNotifySelected:
            stage_ = Stage::After;
            break;
        case kNotifyNoAnswer:
            stage_ = Stage::Logger;
            break;
        default:
            break;
    }
}

std::string versionText(std::uint16_t word) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%.2d", word >> 8, word & 0xFF);
    return text;
}

std::string recordLine(const RunFacts& facts) {
    Json record = {{"outcome", facts.outcome}};
    for (const Field& field : kFields) {
        const auto& value = facts.*field.member;
        record[field.name] = value ? Json(*value) : Json(nullptr);
    }
    return kRecordMarker + record.dump();
}

std::optional<RunFacts> readRecordLine(const std::string& line) {
    const std::string marker = kRecordMarker;
    if (line.compare(0, marker.size(), marker) != 0) {
        return std::nullopt;
    }
    const Json record = Json::parse(line.substr(marker.size()), nullptr, false);
    if (!record.is_object()) {
        return std::nullopt;
    }
    RunFacts facts;
    const auto outcome = record.find("outcome");
    if (outcome != record.end() && outcome->is_string()) {
        facts.outcome = outcome->get<std::string>();
    }
    for (const Field& field : kFields) {
        const auto value = record.find(field.name);
        if (value != record.end() && value->is_number_unsigned() && *value <= 0xFFFF) {
            facts.*field.member = value->get<std::uint16_t>();
        }
    }
    return facts;
}

}  // namespace qor::cli
