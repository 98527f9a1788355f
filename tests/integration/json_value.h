// A strict little JSON reader, to check the tool's --json output: it rejects
// anything that is not valid JSON (raw control characters, bad escapes,
// invalid UTF-8, trailing text).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vxtest {

class Json {
public:
    enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };

    // Empty with `*error` set when `text` is not one JSON value.
    static std::optional<Json> parse(std::string_view text, std::string* error);

    Type type() const { return type_; }
    bool is_null() const { return type_ == Type::kNull; }
    bool boolean() const { return flag_; }
    double number() const { return number_; }
    uint64_t u64() const { return static_cast<uint64_t>(number_); }
    const std::string& str() const { return text_; }
    std::size_t size() const { return type_ == Type::kObject ? members_.size() : items_.size(); }
    bool has(std::string_view key) const;
    // A missing key or index gives a null value.
    const Json& operator[](std::string_view key) const;
    const Json& operator[](std::size_t index) const;

private:
    friend class JsonParser;
    Type type_ = Type::kNull;
    bool flag_ = false;
    double number_ = 0;
    std::string text_;
    std::vector<Json> items_;
    std::vector<std::pair<std::string, Json>> members_;
};

}  // namespace vxtest
