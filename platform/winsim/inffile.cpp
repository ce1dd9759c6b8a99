#include "inffile.h"

#include "spoolerstate.h"
#include "textcodec.h"

#include <fstream>
#include <sstream>

namespace winsim {
namespace {

std::string trim(const std::string &text)
{
    const size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return std::string();
    const size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

// Drops a comment (from ';' outside quotes to the end of the line).
std::string withoutComment(const std::string &line)
{
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else if (line[i] == ';' && !quoted)
            return line.substr(0, i);
    }
    return line;
}

// Splits at a separator outside quotes.
std::vector<std::string> splitOutsideQuotes(const std::string &text, char separator, size_t maxParts)
{
    std::vector<std::string> parts;
    std::string current;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"')
            quoted = !quoted;
        if (c == separator && !quoted && parts.size() + 1 < maxParts) {
            parts.push_back(current);
            current.clear();
            continue;
        }
        current += c;
    }
    parts.push_back(current);
    return parts;
}

// A field without its quotes; "" inside quotes stands for one quote.
std::string unquote(const std::string &field)
{
    const std::string text = trim(field);
    std::string out;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                out += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
            continue;
        }
        out += text[i];
    }
    return out;
}

std::string decodeFile(const std::string &bytes)
{
    if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) {
        std::u16string wide;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            wide += char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8));
        return toUtf8(wide);
    }
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return bytes.substr(3);
    return bytes;
}

} // namespace

bool InfFile::load(const std::string &path, std::string *error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read \"" + path + "\"";
        return false;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    parse(decodeFile(bytes.str()));
    if (!section("Version")) {
        *error = "\"" + path + "\" has no [Version] section";
        return false;
    }
    return true;
}

void InfFile::parse(const std::string &text)
{
    std::istringstream lines(text);
    std::string current;
    std::string pending;
    for (std::string line; std::getline(lines, line);) {
        line = trim(withoutComment(line));
        // A backslash at the end continues the line.
        if (!line.empty() && line.back() == '\\') {
            pending += line.substr(0, line.size() - 1);
            continue;
        }
        line = pending + line;
        pending.clear();
        if (line.empty())
            continue;
        if (line.front() == '[' && line.back() == ']') {
            current = foldedKey(trim(line.substr(1, line.size() - 2)));
            m_rawSections[current];
            continue;
        }
        if (!current.empty())
            m_rawSections[current].push_back(line);
    }
    for (const auto &line : m_rawSections[foldedKey("Strings")]) {
        const auto parts = splitOutsideQuotes(line, '=', 2);
        if (parts.size() == 2)
            m_strings[foldedKey(trim(parts[0]))] = unquote(parts[1]);
    }
    for (const auto &[name, raw] : m_rawSections)
        for (const auto &line : raw)
            m_sections[name].push_back(parseEntry(line));
}

InfFile::Entry InfFile::parseEntry(const std::string &line) const
{
    Entry entry;
    const auto parts = splitOutsideQuotes(line, '=', 2);
    const std::string values = parts.size() == 2 ? parts[1] : parts[0];
    if (parts.size() == 2)
        entry.key = unquote(substitute(parts[0]));
    for (const auto &field : splitOutsideQuotes(values, ',', std::string::npos))
        entry.fields.push_back(unquote(substitute(field)));
    return entry;
}

std::string InfFile::substitute(const std::string &text) const
{
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        const size_t start = text.find('%', i);
        if (start == std::string::npos) {
            out += text.substr(i);
            break;
        }
        const size_t end = text.find('%', start + 1);
        if (end == std::string::npos) {
            out += text.substr(i);
            break;
        }
        out += text.substr(i, start - i);
        const std::string key = text.substr(start + 1, end - start - 1);
        if (key.empty()) {
            out += '%'; // %% is a literal percent sign
        } else {
            const auto found = m_strings.find(foldedKey(key));
            // Substituted text is quoted so that commas in it stay inside one field.
            out += found != m_strings.end() ? "\"" + found->second + "\""
                                            : text.substr(start, end - start + 1);
        }
        i = end + 1;
    }
    return out;
}

const std::vector<InfFile::Entry> *InfFile::section(const std::string &name) const
{
    const auto it = m_sections.find(foldedKey(name));
    if (it == m_sections.end()) {
        const auto raw = m_rawSections.find(foldedKey(name));
        static const std::vector<Entry> empty;
        return raw == m_rawSections.end() ? nullptr : &empty;
    }
    return &it->second;
}

std::vector<std::string> InfFile::fields(const std::string &sectionName, const std::string &key) const
{
    if (const auto *entries = section(sectionName))
        for (const auto &entry : *entries)
            if (foldedKey(entry.key) == foldedKey(key))
                return entry.fields;
    return {};
}

std::string InfFile::value(const std::string &sectionName, const std::string &key) const
{
    const auto found = fields(sectionName, key);
    return found.empty() ? std::string() : found.front();
}

std::string InfFile::driverDate() const
{
    const auto found = fields("Version", "DriverVer");
    return found.empty() ? std::string() : found[0];
}

std::string InfFile::driverVersion() const
{
    const auto found = fields("Version", "DriverVer");
    return found.size() < 2 ? std::string() : found[1];
}

std::optional<InfModel> InfFile::model(const std::string &name, const Environment &environment) const
{
    const auto *manufacturers = section("Manufacturer");
    if (!manufacturers)
        return std::nullopt;
    for (const auto &manufacturer : *manufacturers) {
        if (manufacturer.fields.empty())
            continue;
        // The model section for this environment carries its decoration (NTamd64, NTx86.6.0, ...);
        // an undecorated section serves 32-bit x86 only.
        std::string modelsSection;
        for (size_t i = 1; i < manufacturer.fields.size(); ++i) {
            const std::string decoration = manufacturer.fields[i];
            if (foldedKey(decoration.substr(0, decoration.find('.'))) == foldedKey(environment.infDecoration))
                modelsSection = manufacturer.fields[0] + "." + decoration;
        }
        if (modelsSection.empty() && manufacturer.fields.size() == 1
            && std::string(environment.infDecoration) == "NTx86")
            modelsSection = manufacturer.fields[0];
        if (modelsSection.empty())
            continue;
        if (const auto *models = section(modelsSection))
            for (const auto &entry : *models)
                if (!entry.fields.empty() && foldedKey(entry.key) == foldedKey(name))
                    return InfModel { entry.key, entry.fields[0] };
    }
    return std::nullopt;
}

std::string InfFile::dataFile(const std::string &installSectionName) const
{
    const std::string named = value(installSectionName, "DataFile");
    if (!named.empty())
        return named;
    // GPD-based install sections are commonly named after their data file.
    return installSectionName;
}

} // namespace winsim
