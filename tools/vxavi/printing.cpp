#include "printing.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace vxavi {

std::string fourcc_text(uint32_t fourcc) {
    if (fourcc == 0) return {};
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const unsigned c = (fourcc >> (8 * i)) & 0xFFu;
        // A code that is not text reads better as a number.
        if (c < 0x20 || c >= 0x7F) return hex32(fourcc);
        s += static_cast<char>(c);
    }
    return s;
}

std::string hex32(uint32_t value) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", static_cast<unsigned>(value));
    return b;
}

std::string crc32_text(uint32_t value) {
    char b[16];
    std::snprintf(b, sizeof b, "%08x", static_cast<unsigned>(value));
    return b;
}

std::string number_text(double value) {
    if (!std::isfinite(value)) return "0";
    char b[64];
    const auto r = std::to_chars(b, b + sizeof b, value);
    return std::string(b, r.ptr);
}

std::string short_number(double value) {
    char b[64];
    std::snprintf(b, sizeof b, "%.3f", std::isfinite(value) ? value : 0.0);
    std::string s = b;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

namespace {

// Length of the valid UTF-8 sequence at the start of `s`, or 0.
std::size_t utf8_sequence(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    std::size_t n = 0;
    uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07u;
    } else {
        return 0;
    }
    if (s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0u) != 0x80u) return 0;
        cp = (cp << 6) | (b(i) & 0x3Fu);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not text.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t n = utf8_sequence(text.substr(i));
            if (n == 0) {
                out += "\\uFFFD";
                ++i;
            } else {
                out.append(text.substr(i, n));
                i += n;
            }
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char b[8];
                    std::snprintf(b, sizeof b, "\\u%04X", c);
                    out += b;
                } else {
                    out += static_cast<char>(c);
                }
        }
        ++i;
    }
    out += '"';
}

void JsonWriter::separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back()) out_ += ',';
        first_.back() = false;
    }
}

JsonWriter& JsonWriter::open(char bracket) {
    separate();
    out_ += bracket;
    first_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::close(char bracket) {
    out_ += bracket;
    first_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    separate();
    append_json_string(out_, name);
    out_ += ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
    separate();
    append_json_string(out_, text);
    return *this;
}

JsonWriter& JsonWriter::value(uint64_t number) {
    separate();
    out_ += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(int64_t number) {
    separate();
    out_ += std::to_string(number);
    return *this;
}

JsonWriter& JsonWriter::value(double number) {
    // JSON has no NaN or infinity.
    if (!std::isfinite(number)) return null();
    separate();
    out_ += number_text(number);
    return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
    separate();
    out_ += flag ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::null() {
    separate();
    out_ += "null";
    return *this;
}

void TextTable::columns(std::vector<std::pair<std::string, Align>> heads) {
    heads_ = std::move(heads);
}

void TextTable::row(std::vector<std::string> cells) {
    cells.resize(heads_.size());
    rows_.push_back(std::move(cells));
}

std::string TextTable::render(std::string_view indent) const {
    std::vector<std::size_t> width(heads_.size());
    for (std::size_t i = 0; i < heads_.size(); ++i) {
        width[i] = heads_[i].first.size();
        for (const auto& r : rows_) width[i] = std::max(width[i], r[i].size());
    }
    std::string out;
    auto line = [&](const std::vector<std::string>& cells) {
        std::string l(indent);
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const std::string pad(width[i] - cells[i].size(), ' ');
            if (i != 0) l += "  ";
            l += heads_[i].second == Align::kRight ? pad + cells[i] : cells[i] + pad;
        }
        while (!l.empty() && l.back() == ' ') l.pop_back();
        out += l;
        out += '\n';
    };
    std::vector<std::string> head;
    for (const auto& h : heads_) head.push_back(h.first);
    line(head);
    for (const auto& r : rows_) line(r);
    return out;
}

bool write_stdout(std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

void ListPrinter::flush() {
    ok_ = write_stdout(out_) && ok_;
    out_.clear();
}

bool ListPrinter::end() {
    if (json_) out_ += rows_ != 0 ? "\n]\n" : "]\n";
    flush();
    return ok_;
}

}  // namespace vxavi
