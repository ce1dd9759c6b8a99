#include "jsonvalue.h"

#include <cerrno>
#include <cstdlib>

namespace {

// Deep nesting is the one way a small body could exhaust the stack of a recursive reader.
constexpr int MaxDepth = 64;

// Characters that end the plain run of a string: the quote, the backslash and control characters.
// Print bodies are mostly one long plain run, so this loop is where their parsing time goes.
struct StopTable
{
    bool stop[256] = {};
    StopTable()
    {
        for (int c = 0; c < 0x20; ++c)
            stop[c] = true;
        stop[static_cast<unsigned char>('"')] = true;
        stop[static_cast<unsigned char>('\\')] = true;
    }
};
const StopTable Stops;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads four hex digits at p; -1 when they are not all there.
long readHex4(std::string_view s, size_t p)
{
    if (p + 4 > s.size())
        return -1;
    long v = 0;
    for (size_t i = 0; i < 4; ++i) {
        const int d = hexDigit(s[p + i]);
        if (d < 0)
            return -1;
        v = v * 16 + d;
    }
    return v;
}

void appendUtf8(std::string &out, unsigned long cp)
{
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

// Resolves the escapes of a string body that the parser has already checked.
std::string unescape(std::string_view raw)
{
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        const char e = raw[++i];
        switch (e) {
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'u': {
            unsigned long cp = static_cast<unsigned long>(readHex4(raw, i + 1));
            i += 4;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                const unsigned long low = static_cast<unsigned long>(readHex4(raw, i + 3));
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 6;
            }
            appendUtf8(out, cp);
            break;
        }
        default:
            out += e;
            break; // " \ /
        }
    }
    return out;
}

} // namespace

class JsonParser
{
public:
    explicit JsonParser(std::string_view text)
        : m_s(text)
    {
    }

    bool parseDocument(JsonValue *out)
    {
        skipSpace();
        if (!parseValue(out, 0))
            return false;
        skipSpace();
        if (m_p != m_s.size())
            return fail("unexpected text after the value");
        return true;
    }

    std::string error() const { return m_error + " at offset " + std::to_string(m_p); }

private:
    bool fail(const char *why)
    {
        if (m_error.empty())
            m_error = why;
        return false;
    }

    void skipSpace()
    {
        while (
            m_p < m_s.size() && (m_s[m_p] == ' ' || m_s[m_p] == '\t' || m_s[m_p] == '\n' || m_s[m_p] == '\r'))
            ++m_p;
    }

    bool literal(std::string_view word)
    {
        if (m_s.substr(m_p, word.size()) != word)
            return fail("unknown literal");
        m_p += word.size();
        return true;
    }

    bool parseValue(JsonValue *out, int depth)
    {
        if (depth > MaxDepth)
            return fail("nesting too deep");
        if (m_p >= m_s.size())
            return fail("unexpected end");
        switch (m_s[m_p]) {
        case '{':
            return parseObject(out, depth);
        case '[':
            return parseArray(out, depth);
        case '"':
            out->m_type = JsonValue::Type::String;
            return parseString(&out->m_raw, &out->m_escaped);
        case 't':
            out->m_type = JsonValue::Type::Bool;
            out->m_bool = true;
            return literal("true");
        case 'f':
            out->m_type = JsonValue::Type::Bool;
            return literal("false");
        case 'n':
            out->m_type = JsonValue::Type::Null;
            return literal("null");
        default:
            return parseNumber(out);
        }
    }

    bool parseString(std::string_view *raw, bool *escaped)
    {
        ++m_p; // opening quote
        const size_t start = m_p;
        *escaped = false;
        const char *data = m_s.data();
        const size_t size = m_s.size();
        while (m_p < size) {
            while (m_p < size && !Stops.stop[static_cast<unsigned char>(data[m_p])])
                ++m_p;
            if (m_p >= size)
                break;
            const unsigned char c = static_cast<unsigned char>(data[m_p]);
            if (c == '"') {
                *raw = m_s.substr(start, m_p - start);
                ++m_p;
                return true;
            }
            if (c < 0x20)
                return fail("control character in string");
            *escaped = true;
            if (++m_p >= m_s.size())
                break;
            const char e = m_s[m_p];
            if (e == 'u') {
                const long cp = readHex4(m_s, m_p + 1);
                if (cp < 0)
                    return fail("bad \\u escape");
                m_p += 5;
                if (cp >= 0xDC00 && cp <= 0xDFFF)
                    return fail("lone low surrogate");
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    if (m_s.substr(m_p, 2) != "\\u")
                        return fail("lone high surrogate");
                    const long low = readHex4(m_s, m_p + 2);
                    if (low < 0xDC00 || low > 0xDFFF)
                        return fail("lone high surrogate");
                    m_p += 6;
                }
                continue;
            }
            if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos)
                return fail("bad escape");
            ++m_p;
        }
        return fail("unterminated string");
    }

    bool parseNumber(JsonValue *out)
    {
        const size_t start = m_p;
        auto digits = [this] {
            const size_t from = m_p;
            while (m_p < m_s.size() && m_s[m_p] >= '0' && m_s[m_p] <= '9')
                ++m_p;
            return m_p - from;
        };
        if (m_p < m_s.size() && m_s[m_p] == '-')
            ++m_p;
        const size_t intStart = m_p;
        const size_t intDigits = digits();
        if (intDigits == 0)
            return fail("unexpected character");
        if (intDigits > 1 && m_s[intStart] == '0')
            return fail("leading zero");
        if (m_p < m_s.size() && m_s[m_p] == '.') {
            ++m_p;
            if (digits() == 0)
                return fail("bad fraction");
        }
        if (m_p < m_s.size() && (m_s[m_p] == 'e' || m_s[m_p] == 'E')) {
            ++m_p;
            if (m_p < m_s.size() && (m_s[m_p] == '+' || m_s[m_p] == '-'))
                ++m_p;
            if (digits() == 0)
                return fail("bad exponent");
        }
        out->m_type = JsonValue::Type::Number;
        out->m_raw = m_s.substr(start, m_p - start);
        out->m_number = std::strtod(std::string(out->m_raw).c_str(), nullptr);
        return true;
    }

    bool parseArray(JsonValue *out, int depth)
    {
        out->m_type = JsonValue::Type::Array;
        out->m_items = std::make_shared<std::vector<JsonValue>>();
        ++m_p;
        skipSpace();
        if (m_p < m_s.size() && m_s[m_p] == ']') {
            ++m_p;
            return true;
        }
        for (;;) {
            JsonValue item;
            skipSpace();
            if (!parseValue(&item, depth + 1))
                return false;
            out->m_items->push_back(std::move(item));
            skipSpace();
            if (m_p >= m_s.size())
                return fail("unterminated array");
            if (m_s[m_p] == ']') {
                ++m_p;
                return true;
            }
            if (m_s[m_p] != ',')
                return fail("expected , or ]");
            ++m_p;
        }
    }

    bool parseObject(JsonValue *out, int depth)
    {
        out->m_type = JsonValue::Type::Object;
        out->m_members = std::make_shared<std::vector<std::pair<std::string, JsonValue>>>();
        ++m_p;
        skipSpace();
        if (m_p < m_s.size() && m_s[m_p] == '}') {
            ++m_p;
            return true;
        }
        for (;;) {
            skipSpace();
            if (m_p >= m_s.size() || m_s[m_p] != '"')
                return fail("expected a member name");
            std::string_view rawKey;
            bool escaped = false;
            if (!parseString(&rawKey, &escaped))
                return false;
            skipSpace();
            if (m_p >= m_s.size() || m_s[m_p] != ':')
                return fail("expected :");
            ++m_p;
            skipSpace();
            JsonValue value;
            if (!parseValue(&value, depth + 1))
                return false;
            out->m_members->emplace_back(escaped ? unescape(rawKey) : std::string(rawKey), std::move(value));
            skipSpace();
            if (m_p >= m_s.size())
                return fail("unterminated object");
            if (m_s[m_p] == '}') {
                ++m_p;
                return true;
            }
            if (m_s[m_p] != ',')
                return fail("expected , or }");
            ++m_p;
        }
    }

    std::string_view m_s;
    size_t m_p = 0;
    std::string m_error;
};

JsonValue JsonValue::parse(std::string_view text, bool *ok, std::string *error)
{
    JsonParser parser(text);
    JsonValue value;
    const bool good = parser.parseDocument(&value);
    if (ok)
        *ok = good;
    if (!good) {
        if (error)
            *error = parser.error();
        return JsonValue();
    }
    return value;
}

bool JsonValue::toInt64(int64_t *out) const
{
    if (m_type != Type::Number || m_raw.find_first_of(".eE") != std::string_view::npos)
        return false;
    errno = 0;
    const long long v = std::strtoll(std::string(m_raw).c_str(), nullptr, 10);
    if (errno == ERANGE)
        return false;
    *out = v;
    return true;
}

std::string JsonValue::toText() const
{
    if (m_type != Type::String)
        return std::string();
    return m_escaped ? unescape(m_raw) : std::string(m_raw);
}

const std::vector<JsonValue> &JsonValue::items() const
{
    static const std::vector<JsonValue> none;
    return m_items ? *m_items : none;
}

const std::vector<std::pair<std::string, JsonValue>> &JsonValue::members() const
{
    static const std::vector<std::pair<std::string, JsonValue>> none;
    return m_members ? *m_members : none;
}

const JsonValue *JsonValue::member(std::string_view key) const
{
    const JsonValue *found = nullptr;
    for (const auto &m : members()) {
        if (m.first == key)
            found = &m.second;
    }
    return found;
}
