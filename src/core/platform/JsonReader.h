#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A small JSON reader (RFC 8259) for the files analysts write and edit by
// hand: every value keeps the line it starts on, so a problem can be named by
// its line. Strict: no comments, no trailing commas, no duplicate keys, UTF-8
// only (a byte-order mark at the start is skipped), nesting at most
// kMaxDepth deep.
struct JsonMember;

struct JsonValue {
    enum class Type : unsigned char { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    size_t line = 0; // from 1
    bool boolean = false;
    double number = 0.0;
    std::string text;
    std::vector<JsonValue> items;    // an array's
    std::vector<JsonMember> members; // an object's, in file order

    // The member named `key` of an object, or nullptr.
    const JsonValue* member(std::string_view key) const;
};

struct JsonMember {
    std::string key;
    JsonValue value;
};

struct JsonError {
    size_t line = 0;
    std::string message; // Japanese, for the analyst
};

inline constexpr int kMaxJsonDepth = 64;

// Reads `text` whole into `value`; false, with `error`, when it is not JSON.
bool parseJson(std::string_view text, JsonValue& value, JsonError& error);

// `text` as a JSON string, quotes included; UTF-8 is kept as it is.
std::string jsonString(std::string_view text);
