// Output helpers shared by the commands: a small JSON writer, an aligned text
// table, a listing printed as it goes and the printable forms of
// four-character codes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vxavi {

// The four characters when all are printable, else the hex value; 0 is "".
std::string fourcc_text(uint32_t fourcc);
std::string hex32(uint32_t value);       // "0x0000ABCD"
std::string crc32_text(uint32_t value);  // "0000abcd"
// Shortest text that reads back as `value`.
std::string number_text(double value);
// At most three decimals, for people.
std::string short_number(double value);

// Appends JSON to a string. Keys and values are written in call order; the
// writer inserts the commas. Strings are taken as UTF-8: invalid bytes are
// replaced, control characters escaped, so the output is always valid JSON.
class JsonWriter {
public:
    explicit JsonWriter(std::string& out) : out_(out) {}

    JsonWriter& begin_object() { return open('{'); }
    JsonWriter& end_object() { return close('}'); }
    JsonWriter& begin_array() { return open('['); }
    JsonWriter& end_array() { return close(']'); }
    JsonWriter& key(std::string_view name);

    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(uint64_t number);
    JsonWriter& value(int64_t number);
    // Every other integer type (size_t is unsigned long on some targets).
    template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool>) JsonWriter& value(T number) {
        if constexpr (std::is_signed_v<T>) {
            return value(static_cast<int64_t>(number));
        } else {
            return value(static_cast<uint64_t>(number));
        }
    }
    JsonWriter& value(double number);
    JsonWriter& value(bool flag);
    JsonWriter& null();

    template <class T>
    JsonWriter& field(std::string_view name, const T& v) {
        key(name);
        return value(v);
    }
    template <class T>
    JsonWriter& field(std::string_view name, const std::optional<T>& v) {
        key(name);
        return v ? value(*v) : null();
    }

private:
    void separate();
    JsonWriter& open(char bracket);
    JsonWriter& close(char bracket);

    std::string& out_;
    std::vector<bool> first_;  // per open container: nothing written yet
    bool afterKey_ = false;
};

void append_json_string(std::string& out, std::string_view text);

// Columns of text, padded to the widest cell; numbers are right-aligned.
class TextTable {
public:
    enum class Align { kLeft, kRight };
    void columns(std::vector<std::pair<std::string, Align>> heads);
    void row(std::vector<std::string> cells);
    std::string render(std::string_view indent) const;

private:
    std::vector<std::pair<std::string, Align>> heads_;
    std::vector<std::vector<std::string>> rows_;
};

// Writes all of `text` to standard output; false when that fails.
bool write_stdout(std::string_view text);

// A long listing printed as it goes, a row per item: lines of text under a
// head line, or a JSON array of objects that stays valid JSON when the
// listing stops early.
class ListPrinter {
public:
    // `head` is the first line of the text form.
    ListPrinter(bool json, std::string_view head) : json_(json), out_(json ? "[" : head) {}

    // One row: `line` in the text form, else an object whose members
    // `members(JsonWriter&)` writes.
    template <class Members>
    void row(std::string_view line, Members&& members) {
        if (json_) {
            out_ += rows_ == 0 ? "\n" : ",\n";
            JsonWriter j(out_);
            j.begin_object();
            members(j);
            j.end_object();
        } else {
            out_ += line;
        }
        ++rows_;
        if (out_.size() > (1u << 16)) flush();
    }
    // False once some of the output could not be written.
    bool ok() const { return ok_; }
    // Closes the listing and writes what is left; false as ok().
    bool end();

private:
    void flush();

    bool json_;
    bool ok_ = true;
    uint64_t rows_ = 0;
    std::string out_;
};

}  // namespace vxavi
