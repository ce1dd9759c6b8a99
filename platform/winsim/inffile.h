// A Windows setup information (INF) file, read as far as installing a printer driver needs: the
// [Version] section, the manufacturer and model sections, and %string% substitution.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

struct Environment;

struct InfModel
{
    std::string name; // as the INF spells it
    std::string installSection;
};

class InfFile
{
public:
    // Reads UTF-8 (with or without a byte order mark) or UTF-16LE files.
    bool load(const std::string &path, std::string *error);

    // The fields of the first entry with that key in the section, substituted and unquoted.
    std::vector<std::string> fields(const std::string &section, const std::string &key) const;
    std::string value(const std::string &section, const std::string &key) const;

    std::string driverDate() const; // first part of DriverVer (mm/dd/yyyy)
    std::string driverVersion() const; // second part of DriverVer (w.x.y.z)

    // A model for an environment, found through the manufacturer's target-decorated model
    // sections; nullopt when the INF has no such model for it.
    std::optional<InfModel> model(const std::string &name, const Environment &environment) const;
    // The driver's data file (the GPD) named by an install section.
    std::string dataFile(const std::string &installSection) const;

private:
    struct Entry
    {
        std::string key; // empty for an entry without "="
        std::vector<std::string> fields;
    };

    void parse(const std::string &text);
    Entry parseEntry(const std::string &line) const;
    std::string substitute(const std::string &text) const;
    const std::vector<Entry> *section(const std::string &name) const;

    std::map<std::string, std::vector<std::string>> m_rawSections; // folded name -> lines
    std::map<std::string, std::vector<Entry>> m_sections;
    std::map<std::string, std::string> m_strings; // folded key -> text
};

} // namespace winsim
