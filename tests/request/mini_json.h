// Reads the corpus fixtures' JSON files: flat objects whose members are strings (with the usual
// escapes), numbers or null, on their own or as the items of an array. Numbers are kept as text.
#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using JsonObject = std::map<std::string, std::optional<std::string>>;  // null: no value

class FlatJsonReader {
  public:
    explicit FlatJsonReader(std::string_view text, std::size_t start = 0) : in(text), pos(start) {}

    // The objects of the array that is the value of `key` (searched as text).
    static std::vector<JsonObject> array_of(std::string_view text, std::string_view key) {
        std::vector<JsonObject> items;
        const std::size_t at = text.find("\"" + std::string(key) + "\"");
        if (at == std::string_view::npos) return items;
        FlatJsonReader reader(text, text.find('[', at) + 1);
        while (reader.skip_to_any("{]") == '{') items.push_back(reader.object());
        return items;
    }

    JsonObject object() {
        JsonObject members;
        skip_to_any("{");
        ++pos;
        while (skip_to_any("\"}") == '"') {
            const std::string key = string();
            skip_to_any(":");
            ++pos;
            skip_space();
            if (in[pos] == '"') {
                members[key] = string();
            } else if (in.compare(pos, 4, "null") == 0) {
                members[key] = std::nullopt;
                pos += 4;
            } else {
                const std::size_t end = in.find_first_of(",}\n", pos);
                members[key] = std::string(in.substr(pos, end - pos));
                pos = end;
            }
        }
        ++pos;
        return members;
    }

  private:
    void skip_space() {
        while (pos < in.size() && (in[pos] == ' ' || in[pos] == '\n' || in[pos] == '\r')) ++pos;
    }
    // Moves to the next of `chars` and returns it, or NUL at the end of the text.
    char skip_to_any(const char* chars) {
        pos = in.find_first_of(chars, pos);
        if (pos == std::string_view::npos) pos = in.size();
        return pos < in.size() ? in[pos] : '\0';
    }
    std::string string() {
        std::string out;
        for (++pos; pos < in.size() && in[pos] != '"'; ++pos) {
            if (in[pos] != '\\') {
                out += in[pos];
                continue;
            }
            const char escaped = in[++pos];
            if (escaped == 'u') {  // the fixtures use \u only below 0x80
                out += static_cast<char>(
                    std::strtoul(std::string(in.substr(pos + 1, 4)).c_str(), nullptr, 16));
                pos += 4;
            } else {
                out += escaped == 'n'   ? '\n'
                       : escaped == 'r' ? '\r'
                       : escaped == 't' ? '\t'
                                        : escaped;
            }
        }
        ++pos;
        return out;
    }

    std::string_view in;
    std::size_t pos;
};
