#ifndef JSONVALUE_H
#define JSONVALUE_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A parsed JSON value that refers into the text it was parsed from: string values stay where they
// are until someone asks for them, so a print body of several hundred MiB is never copied just to
// find its Base64 member. The source text must outlive the value.
class JsonValue
{
public:
    enum class Type { Null, Bool, Number, String, Array, Object };

    // Parses a whole document (surrounding white space allowed, nothing else). On failure returns
    // a null value and, if given, sets *error to a short reason with the byte offset.
    static JsonValue parse(std::string_view text, bool *ok, std::string *error = nullptr);

    JsonValue() = default;

    Type type() const { return m_type; }
    bool isNull() const { return m_type == Type::Null; }
    bool isBool() const { return m_type == Type::Bool; }
    bool isNumber() const { return m_type == Type::Number; }
    bool isString() const { return m_type == Type::String; }
    bool isArray() const { return m_type == Type::Array; }
    bool isObject() const { return m_type == Type::Object; }

    bool toBool() const { return m_bool; }
    double toNumber() const { return m_number; }
    // True when the number is integral and fits, so counts and delays can be taken as given.
    bool toInt64(int64_t *out) const;

    // The string value with its escapes resolved (UTF-8).
    std::string toText() const;
    // The string value exactly as it stands between the quotes, escapes unresolved.
    std::string_view rawText() const { return m_raw; }
    bool hasEscapes() const { return m_escaped; }

    const std::vector<JsonValue> &items() const;
    const std::vector<std::pair<std::string, JsonValue>> &members() const;
    // The last member of that name, or null when there is none.
    const JsonValue *member(std::string_view key) const;

private:
    friend class JsonParser;

    Type m_type = Type::Null;
    bool m_bool = false;
    bool m_escaped = false;
    double m_number = 0;
    std::string_view m_raw;
    std::shared_ptr<std::vector<JsonValue>> m_items;
    std::shared_ptr<std::vector<std::pair<std::string, JsonValue>>> m_members;
};

#endif // JSONVALUE_H
