// Records, catalogue lines and stamps, in JSON through nlohmann-json.
#include "app/store/record.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace store {

namespace {

// The UTC time with its fields apart (the record's form) or run together (the stamp form).
// Worked out by calendar arithmetic: gmtime and strftime read the time zone files first, which a
// UTC text never needs.
std::string utc_text(std::time_t when, bool apart) {
    using namespace std::chrono;
    const sys_seconds at{seconds{when}};
    const sys_days day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{at - day};
    char text[48];
    const int n = std::snprintf(
        text, sizeof text, apart ? "%04d-%02u-%02uT%02ld:%02ld:%02ldZ" : "%04d%02u%02uT%02ld%02ld%02ldZ",
        static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
        static_cast<unsigned>(date.day()), static_cast<long>(time.hours().count()),
        static_cast<long>(time.minutes().count()), static_cast<long>(time.seconds().count()));
    return n > 0 && static_cast<std::size_t>(n) < sizeof text
               ? std::string(text, static_cast<std::size_t>(n))
               : std::string();
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
    return utc_text(when, true);
}

std::string stamp_text(std::time_t when) {
    return utc_text(when, false);
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
