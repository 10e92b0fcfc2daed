// Records, catalogue lines and stamps, in JSON through nlohmann-json.
#include "app/store/record.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>

namespace store {

namespace {

std::string utc_text(std::time_t when, const char* format) {
    std::tm parts{};
    gmtime_r(&when, &parts);
    char text[32];
    std::size_t n = std::strftime(text, sizeof text, format, &parts);
    return std::string(text, n);
}

bool all_digits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

std::string record_json(const Record& record, std::string_view folder, std::string_view stamp) {
    nlohmann::ordered_json json = {
        {"name", record.name},     {"mail", record.mail},
        {"interest", record.interest}, {"resume", record.resume},
        {"resume_size", record.resume_size}, {"filed", record.filed},
    };
    if (!folder.empty()) json["folder"] = folder;
    if (!stamp.empty()) json["stamp"] = stamp;
    // Names were checked as UTF-8; anything else is replaced rather than refused here.
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<Record> read_record(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object()) return std::nullopt;
    try {
        Record record;
        record.name = json.at("name").get<std::string>();
        record.mail = json.at("mail").get<std::string>();
        record.interest = json.at("interest").get<std::string>();
        record.resume = json.at("resume").get<std::string>();
        record.resume_size = json.at("resume_size").get<std::uint64_t>();
        record.filed = json.at("filed").get<std::string>();
        return record;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

std::string filed_text(std::time_t when) {
    return utc_text(when, "%Y-%m-%dT%H:%M:%SZ");
}

std::string stamp_text(std::time_t when) {
    return utc_text(when, "%Y%m%dT%H%M%SZ");
}

std::string stamp_of_filed(std::string_view filed) {
    // 2026-12-08T16:20:05Z -> 20261208T162005Z
    if (filed.size() != 20 || filed[4] != '-' || filed[7] != '-' || filed[10] != 'T' ||
        filed[13] != ':' || filed[16] != ':' || filed[19] != 'Z')
        return {};
    std::string stamp;
    for (char c : filed) {
        if (c != '-' && c != ':') stamp += c;
    }
    return is_stamp_name(stamp) ? stamp : std::string();
}

bool is_stamp_name(std::string_view name) {
    if (name.size() < 16) return false;
    if (!all_digits(name.substr(0, 8)) || name[8] != 'T' || !all_digits(name.substr(9, 6)) ||
        name[15] != 'Z')
        return false;
    const std::string_view rest = name.substr(16);
    return rest.empty() || (rest[0] == '-' && all_digits(rest.substr(1)));
}

std::string stamp_date(std::string_view stamp) {
    if (!is_stamp_name(stamp)) return std::string(stamp);
    std::string date;
    date.append(stamp.substr(0, 4)).append("-").append(stamp.substr(4, 2)).append("-");
    date.append(stamp.substr(6, 2)).append(" ").append(stamp.substr(9, 2)).append(":");
    date.append(stamp.substr(11, 2)).append(":").append(stamp.substr(13, 2)).append(" UTC");
    return date;
}

}  // namespace store
