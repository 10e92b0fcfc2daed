// Erasure plans in JSON through nlohmann-json.
#include "app/store/erasure_marks.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "app/store/store_files.h"

namespace store {

std::string plan_json(const ErasurePlan& p) {
    nlohmann::ordered_json json = {
        {"id", p.id},           {"folder", p.folder},   {"person", p.person},
        {"whole", p.whole},     {"stamps", p.stamps},   {"latest", p.latest},
        {"promote", p.promote}, {"old_resume", p.old_resume},
        {"user", p.user},       {"action", p.action},   {"reference", p.reference},
    };
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::optional<ErasurePlan> parse_plan(std::string_view text) {
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object()) return std::nullopt;
    try {
        ErasurePlan p;
        p.id = json.at("id").get<std::string>();
        p.folder = json.at("folder").get<std::string>();
        p.person = json.at("person").get<std::string>();
        p.whole = json.at("whole").get<bool>();
        p.stamps = json.at("stamps").get<std::vector<std::string>>();
        p.latest = json.at("latest").get<bool>();
        p.promote = json.at("promote").get<std::string>();
        p.old_resume = json.at("old_resume").get<std::string>();
        p.user = json.at("user").get<std::string>();
        p.action = json.at("action").get<std::string>();
        if (auto r = json.find("reference"); r != json.end()) p.reference = r->get<std::string>();
        // A plan names only entries of the folder and the folder of the root: nothing else is
        // ever moved or removed by it.
        auto plain = [](const std::string& n) {
            return !is_reserved_name(n) && n.find('/') == std::string::npos;
        };
        bool sound = plain(p.folder) && plain(p.id) && (p.promote.empty() || plain(p.promote)) &&
                     (p.old_resume.empty() || plain(p.old_resume)) &&
                     std::all_of(p.stamps.begin(), p.stamps.end(), plain);
        if (!sound) return std::nullopt;
        return p;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

std::vector<ErasurePlan> pending_erasures(const ApplicantStore& store) {
    std::vector<ErasurePlan> plans;
    const std::string dir = store.erasures_dir();
    std::vector<std::string> names = names_in(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (name.size() < 6 || name.compare(name.size() - 5, 5, ".json") != 0) continue;
        std::ifstream in(dir + "/" + name, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (auto plan = parse_plan(text); plan && plan->id + ".json" == name)
            plans.push_back(std::move(*plan));
    }
    return plans;
}

bool erasure_pending_for(const ApplicantStore& store, std::string_view name) {
    if (!exists(store.erasures_dir())) return false;
    for (const ErasurePlan& plan : pending_erasures(store))
        if (plan.folder == name) return true;
    return false;
}

}  // namespace store
