#ifndef JSONWRITER_H
#define JSONWRITER_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Builds compact JSON text. Commas are placed by the writer; the caller only opens, names and closes.
class JsonWriter
{
public:
    JsonWriter &beginObject();
    JsonWriter &endObject();
    JsonWriter &beginArray();
    JsonWriter &endArray();
    JsonWriter &key(std::string_view name);

    JsonWriter &value(std::string_view text);
    JsonWriter &value(const char *text) { return value(std::string_view(text)); }
    JsonWriter &value(const std::string &text) { return value(std::string_view(text)); }
    JsonWriter &value(int64_t number);
    JsonWriter &value(uint64_t number);
    JsonWriter &value(int number) { return value(static_cast<int64_t>(number)); }
    JsonWriter &value(bool flag);
    JsonWriter &null();

    const std::string &text() const { return m_out; }

    // The JSON string literal for text, quotes included.
    static std::string quoted(std::string_view text);

private:
    void separate();

    std::string m_out;
    // One entry per open container: whether it still waits for its first element.
    std::vector<bool> m_first;
    bool m_afterKey = false;
};

#endif // JSONWRITER_H
