// A minimal JSON reader for the corpus fixtures' expected.json: objects, arrays, strings (with
// escapes, \u included), numbers, true, false and null. Malformed input yields a null value.
#pragma once

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct JsonValue {
    enum class Kind { null, boolean, number, string, array, object } kind = Kind::null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;

    const JsonValue& operator[](const std::string& key) const {
        static const JsonValue missing;
        auto it = members.find(key);
        return it == members.end() ? missing : it->second;
    }
    bool is_null() const { return kind == Kind::null; }
};

class JsonReader {
  public:
    explicit JsonReader(std::string_view text) : in(text) {}

    JsonValue value() {
        skip_space();
        JsonValue v;
        if (pos >= in.size()) return v;
        const char c = in[pos];
        if (c == '{') {
            v.kind = JsonValue::Kind::object;
            ++pos;
            while (skip_space(), pos < in.size() && in[pos] != '}') {
                std::string key = value().text;
                skip_space();
                ++pos;  // ':'
                v.members[key] = value();
                skip_space();
                if (pos < in.size() && in[pos] == ',') ++pos;
            }
            ++pos;
        } else if (c == '[') {
            v.kind = JsonValue::Kind::array;
            ++pos;
            while (skip_space(), pos < in.size() && in[pos] != ']') {
                v.items.push_back(value());
                skip_space();
                if (pos < in.size() && in[pos] == ',') ++pos;
            }
            ++pos;
        } else if (c == '"') {
            v.kind = JsonValue::Kind::string;
            v.text = string();
        } else if (in.compare(pos, 4, "true") == 0 || in.compare(pos, 5, "false") == 0) {
            v.kind = JsonValue::Kind::boolean;
            v.boolean = c == 't';
            pos += v.boolean ? 4 : 5;
        } else if (in.compare(pos, 4, "null") == 0) {
            pos += 4;
        } else {
            v.kind = JsonValue::Kind::number;
            const std::string rest(in.substr(pos, 32));
            char* end = nullptr;
            v.number = std::strtod(rest.c_str(), &end);
            pos += static_cast<std::size_t>(end - rest.c_str());
            if (end == rest.c_str()) ++pos;
        }
        return v;
    }

  private:
    void skip_space() {
        while (pos < in.size() &&
               (in[pos] == ' ' || in[pos] == '\n' || in[pos] == '\r' || in[pos] == '\t')) {
            ++pos;
        }
    }
    unsigned hex4() {
        const std::string digits(in.substr(pos, 4));
        pos += 4;
        return static_cast<unsigned>(std::strtoul(digits.c_str(), nullptr, 16));
    }
    void append_utf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    std::string string() {
        std::string out;
        ++pos;  // opening quote
        while (pos < in.size() && in[pos] != '"') {
            char c = in[pos++];
            if (c != '\\' || pos >= in.size()) {
                out += c;
                continue;
            }
            c = in[pos++];
            switch (c) {
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'u': {
                    unsigned cp = hex4();
                    if (cp >= 0xD800 && cp < 0xDC00 && in.compare(pos, 2, "\\u") == 0) {
                        pos += 2;
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (hex4() - 0xDC00);
                    }
                    append_utf8(out, cp);
                    break;
                }
                default:
                    out += c;  // '"', '\\', '/'
            }
        }
        ++pos;  // closing quote
        return out;
    }

    std::string_view in;
    std::size_t pos = 0;
};
