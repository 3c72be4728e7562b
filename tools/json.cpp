/*
 * A small JSON reader for flat objects (RFC 8259 strings and numbers).  A
 * string's \u escapes become UTF-8, surrogate pairs included; a number keeps
 * its text, so that the caller converts it exactly once.
 */
#include "tools/json.h"

#include "tools/encoding.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace tool {
namespace {

class Reader {
public:
    explicit Reader(const std::string &s) : s_(s) {}

    bool object(JsonObject &out, std::string &why) {
        if (!take('{')) return fail(why, "an object must start with '{'");
        if (take('}')) return at_end(why);
        do {
            std::string key;
            JsonValue value;
            if (!string(key)) return fail(why, "a key must be a string");
            if (!take(':')) return fail(why, "':' must follow a key");
            if (!this->value(value)) return fail(why, "a value must be a string, number, true, false or null");
            if (!out.emplace(key, value).second) return fail(why, "key \"" + key + "\" appears twice");
        } while (take(','));
        if (!take('}')) return fail(why, "',' or '}' must follow a value");
        return at_end(why);
    }

private:
    bool fail(std::string &why, const std::string &what) {
        why = what + " (character " + std::to_string(i_ + 1) + ")";
        return false;
    }
    bool at_end(std::string &why) {
        space();
        return i_ == s_.size() || fail(why, "nothing may follow the object");
    }
    void space() {
        while (i_ < s_.size() && std::strchr(" \t\r\n", s_[i_]) && s_[i_]) ++i_;
    }
    bool take(char c) {
        space();
        if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
        return false;
    }
    bool word(const char *w) {
        const std::size_t n = std::strlen(w);
        if (s_.compare(i_, n, w) != 0) return false;
        i_ += n;
        return true;
    }
    bool value(JsonValue &v) {
        space();
        if (i_ < s_.size() && s_[i_] == '"') return v.type = JsonValue::kString, string(v.text);
        if (word("true")) return v.type = JsonValue::kTrue, true;
        if (word("false")) return v.type = JsonValue::kFalse, true;
        if (word("null")) return v.type = JsonValue::kNull, true;
        v.type = JsonValue::kNumber;
        return number(v.text);
    }
    bool number(std::string &out) {
        const std::size_t start = i_;
        auto digits = [&] {
            const std::size_t from = i_;
            while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
            return i_ > from;
        };
        if (i_ < s_.size() && s_[i_] == '-') ++i_;
        if (!digits()) return false;
        if (i_ < s_.size() && s_[i_] == '.' && (++i_, !digits())) return false;
        if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
            ++i_;
            if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
            if (!digits()) return false;
        }
        out = s_.substr(start, i_ - start);
        return true;
    }
    bool hex4(uint32_t &v) {
        if (s_.size() - i_ < 4) return false;
        v = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = s_[i_++];
            if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
            v = v << 4 | static_cast<uint32_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10);
        }
        return true;
    }
    bool string(std::string &out) {
        out.clear();
        space();
        if (i_ >= s_.size() || s_[i_] != '"') return false;
        for (++i_; i_ < s_.size(); ++i_) {
            const unsigned char c = static_cast<unsigned char>(s_[i_]);
            if (c == '"') return ++i_, true;
            if (c < 0x20) return false;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (++i_ >= s_.size()) return false;
            const char e = s_[i_];
            static const char kPlain[] = "\"\\/bfnrt", kMeant[] = "\"\\/\b\f\n\r\t";
            const char *p = e ? std::strchr(kPlain, e) : nullptr;
            if (p) {
                out += kMeant[p - kPlain];
                continue;
            }
            if (e != 'u') return false;
            ++i_;
            uint32_t ch;
            if (!hex4(ch)) return false;
            if (ch >= 0xD800 && ch < 0xDC00) {  // a surrogate pair
                uint32_t low;
                if (!word("\\u") || !hex4(low) || low < 0xDC00 || low >= 0xE000) return false;
                ch = 0x10000 + ((ch - 0xD800) << 10) + (low - 0xDC00);
            } else if (ch >= 0xDC00 && ch < 0xE000) {
                return false;
            }
            append_utf8(out, ch);
            --i_;
        }
        return false;
    }

    const std::string &s_;
    std::size_t i_ = 0;
};

}  // namespace

bool parse_json_object(const std::string &line, JsonObject &out, std::string &why) {
    out.clear();
    return Reader(line).object(out, why);
}

}  // namespace tool
