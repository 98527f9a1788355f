#include "json_value.h"

#include <cstdlib>

namespace vxtest {

class JsonParser {
public:
    explicit JsonParser(std::string_view t) : t_(t) {}

    bool document(Json* out) {
        space();
        if (!value(out, 0)) return false;
        space();
        return at_ == t_.size() || fail("text after the value");
    }
    std::string error;

private:
    bool fail(const std::string& why) {
        if (error.empty()) error = why + " at offset " + std::to_string(at_);
        return false;
    }
    void space() {
        while (at_ < t_.size() &&
               (t_[at_] == ' ' || t_[at_] == '\n' || t_[at_] == '\r' || t_[at_] == '\t'))
            ++at_;
    }
    bool literal(std::string_view word) {
        if (t_.substr(at_, word.size()) != word) return fail("bad literal");
        at_ += word.size();
        return true;
    }

    bool value(Json* out, int depth) {
        if (depth > 64) return fail("nesting too deep");
        if (at_ >= t_.size()) return fail("unexpected end");
        const char c = t_[at_];
        if (c == '{') return object(out, depth);
        if (c == '[') return array(out, depth);
        if (c == '"') {
            out->type_ = Json::Type::kString;
            return string(&out->text_);
        }
        if (c == 't' || c == 'f') {
            out->type_ = Json::Type::kBool;
            out->flag_ = c == 't';
            return literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') return literal("null");
        return number(out);
    }

    bool object(Json* out, int depth) {
        out->type_ = Json::Type::kObject;
        ++at_;
        space();
        if (at_ < t_.size() && t_[at_] == '}') return ++at_, true;
        while (true) {
            space();
            std::string key;
            if (at_ >= t_.size() || t_[at_] != '"' || !string(&key)) return fail("bad key");
            space();
            if (at_ >= t_.size() || t_[at_++] != ':') return fail("missing ':'");
            space();
            Json v;
            if (!value(&v, depth + 1)) return false;
            out->members_.emplace_back(std::move(key), std::move(v));
            space();
            if (at_ >= t_.size()) return fail("unterminated object");
            const char c = t_[at_++];
            if (c == '}') return true;
            if (c != ',') return fail("missing ','");
        }
    }

    bool array(Json* out, int depth) {
        out->type_ = Json::Type::kArray;
        ++at_;
        space();
        if (at_ < t_.size() && t_[at_] == ']') return ++at_, true;
        while (true) {
            space();
            Json v;
            if (!value(&v, depth + 1)) return false;
            out->items_.push_back(std::move(v));
            space();
            if (at_ >= t_.size()) return fail("unterminated array");
            const char c = t_[at_++];
            if (c == ']') return true;
            if (c != ',') return fail("missing ','");
        }
    }

    static void put_utf8(std::string* s, uint32_t cp) {
        if (cp < 0x80) {
            *s += static_cast<char>(cp);
        } else if (cp < 0x800) {
            *s += static_cast<char>(0xC0 | cp >> 6);
            *s += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *s += static_cast<char>(0xE0 | cp >> 12);
            *s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *s += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            *s += static_cast<char>(0xF0 | cp >> 18);
            *s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *s += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool hex4(uint32_t* v) {
        if (at_ + 4 > t_.size()) return fail("short \\u escape");
        *v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = t_[at_++];
            *v <<= 4;
            if (c >= '0' && c <= '9')
                *v |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                *v |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                *v |= static_cast<uint32_t>(c - 'A' + 10);
            else
                return fail("bad hex digit");
        }
        return true;
    }

    // Length of a valid multi-byte UTF-8 sequence at at_, or 0.
    std::size_t utf8_length() const {
        const auto b = [&](std::size_t i) { return static_cast<unsigned char>(t_[at_ + i]); };
        const unsigned char c = b(0);
        std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        if (n == 0 || at_ + n > t_.size()) return 0;
        for (std::size_t i = 1; i < n; ++i)
            if ((b(i) & 0xC0) != 0x80) return 0;
        if (c == 0xE0 && b(1) < 0xA0) return 0;   // overlong
        if (c == 0xED && b(1) >= 0xA0) return 0;  // surrogate
        if (c == 0xF0 && b(1) < 0x90) return 0;   // overlong
        if (c == 0xF4 && b(1) >= 0x90) return 0;  // past U+10FFFF
        return n;
    }

    bool string(std::string* out) {
        ++at_;
        while (true) {
            if (at_ >= t_.size()) return fail("unterminated string");
            const unsigned char c = static_cast<unsigned char>(t_[at_]);
            if (c == '"') return ++at_, true;
            if (c < 0x20) return fail("raw control character in string");
            if (c >= 0x80) {
                const std::size_t n = utf8_length();
                if (n == 0) return fail("invalid UTF-8");
                out->append(t_.substr(at_, n));
                at_ += n;
                continue;
            }
            ++at_;
            if (c != '\\') {
                *out += static_cast<char>(c);
                continue;
            }
            if (at_ >= t_.size()) return fail("unterminated escape");
            const char e = t_[at_++];
            switch (e) {
                case '"':
                    *out += '"';
                    break;
                case '\\':
                    *out += '\\';
                    break;
                case '/':
                    *out += '/';
                    break;
                case 'b':
                    *out += '\b';
                    break;
                case 'f':
                    *out += '\f';
                    break;
                case 'n':
                    *out += '\n';
                    break;
                case 'r':
                    *out += '\r';
                    break;
                case 't':
                    *out += '\t';
                    break;
                case 'u': {
                    uint32_t cp = 0;
                    if (!hex4(&cp)) return false;
                    if (cp >= 0xD800 && cp < 0xDC00) {
                        uint32_t low = 0;
                        if (t_.substr(at_, 2) != "\\u") return fail("lone surrogate");
                        at_ += 2;
                        if (!hex4(&low) || low < 0xDC00 || low > 0xDFFF)
                            return fail("bad surrogate pair");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        return fail("lone surrogate");
                    }
                    put_utf8(out, cp);
                    break;
                }
                default:
                    return fail("bad escape");
            }
        }
    }

    bool number(Json* out) {
        const std::size_t begin = at_;
        auto digits = [&] {
            const std::size_t d = at_;
            while (at_ < t_.size() && t_[at_] >= '0' && t_[at_] <= '9') ++at_;
            return at_ > d;
        };
        if (at_ < t_.size() && t_[at_] == '-') ++at_;
        if (at_ < t_.size() && t_[at_] == '0') {
            ++at_;
        } else if (!digits()) {
            return fail("bad value");
        }
        if (at_ < t_.size() && t_[at_] == '.') {
            ++at_;
            if (!digits()) return fail("bad fraction");
        }
        if (at_ < t_.size() && (t_[at_] == 'e' || t_[at_] == 'E')) {
            ++at_;
            if (at_ < t_.size() && (t_[at_] == '+' || t_[at_] == '-')) ++at_;
            if (!digits()) return fail("bad exponent");
        }
        out->type_ = Json::Type::kNumber;
        out->number_ = std::strtod(std::string(t_.substr(begin, at_ - begin)).c_str(), nullptr);
        return true;
    }

    std::string_view t_;
    std::size_t at_ = 0;
};

std::optional<Json> Json::parse(std::string_view text, std::string* error) {
    JsonParser p(text);
    Json out;
    if (!p.document(&out)) {
        if (error) *error = p.error;
        return std::nullopt;
    }
    return out;
}

bool Json::has(std::string_view key) const {
    for (const auto& m : members_)
        if (m.first == key) return true;
    return false;
}

const Json& Json::operator[](std::string_view key) const {
    static const Json kNull;
    for (const auto& m : members_)
        if (m.first == key) return m.second;
    return kNull;
}

const Json& Json::operator[](std::size_t index) const {
    static const Json kNull;
    return index < items_.size() ? items_[index] : kNull;
}

}  // namespace vxtest
