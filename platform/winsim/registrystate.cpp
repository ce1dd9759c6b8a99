#include "registrystate.h"

#include "statement.h"
#include "textcodec.h"

namespace winsim {

std::optional<std::string> normalRegistryPath(const std::string &path)
{
    std::string out;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        if (end == start)
            return std::nullopt;
        if (!out.empty())
            out += '\\';
        out += path.substr(start, end - start);
        start = end + 1;
    }
    return out;
}

bool registryKeyExists(Transaction &tx, const std::string &path)
{
    if (path.empty())
        return true;
    Statement s(tx.db(), "SELECT 1 FROM reg_keys WHERE path_key = ?");
    s.bind(1, foldedKey(path));
    return s.next();
}

void createRegistryKey(Transaction &tx, const std::string &path)
{
    size_t end = 0;
    while (end != std::string::npos) {
        end = path.find('\\', end + 1);
        const std::string part = path.substr(0, end);
        Statement s(tx.db(), "INSERT OR IGNORE INTO reg_keys(path_key, path) VALUES(?, ?)");
        s.bind(1, foldedKey(part)).bind(2, part).run();
    }
}

void deleteRegistryTree(Transaction &tx, const std::string &path)
{
    const std::string key = foldedKey(path);
    const std::string below = key + "\\";
    Statement keys(tx.db(), "DELETE FROM reg_keys WHERE path_key = ? OR substr(path_key, 1, ?) = ?");
    keys.bind(1, key).bind(2, int64_t(below.size())).bind(3, below).run();
    Statement values(tx.db(), "DELETE FROM reg_values WHERE path_key = ? OR substr(path_key, 1, ?) = ?");
    values.bind(1, key).bind(2, int64_t(below.size())).bind(3, below).run();
}

std::optional<RegistryValue> registryValue(Transaction &tx, const std::string &path, const std::string &name)
{
    Statement s(tx.db(), "SELECT type, data FROM reg_values WHERE path_key = ? AND name_key = ?");
    s.bind(1, foldedKey(path)).bind(2, foldedKey(name));
    if (!s.next())
        return std::nullopt;
    return RegistryValue { uint32_t(s.integer(0)), s.blob(1) };
}

void setRegistryValue(
    Transaction &tx, const std::string &path, const std::string &name, const RegistryValue &value)
{
    Statement s(tx.db(),
        "INSERT OR REPLACE INTO reg_values(path_key, name_key, name, type, data) VALUES(?, ?, ?, ?, ?)");
    s.bind(1, foldedKey(path)).bind(2, foldedKey(name)).bind(3, name).bind(4, int64_t(value.type));
    s.bindBlob(5, value.data.data(), value.data.size()).run();
}

void setRegistryText(
    Transaction &tx, const std::string &path, const std::string &name, const std::string &text)
{
    const std::u16string wide = toUtf16(text);
    const auto *bytes = reinterpret_cast<const uint8_t *>(wide.c_str());
    setRegistryValue(
        tx, path, name, RegistryValue { 1, std::vector<uint8_t>(bytes, bytes + (wide.size() + 1) * 2) });
}

void setRegistryNumber(Transaction &tx, const std::string &path, const std::string &name, uint32_t number)
{
    std::vector<uint8_t> bytes(4);
    for (int i = 0; i < 4; ++i)
        bytes[size_t(i)] = uint8_t(number >> (8 * i));
    setRegistryValue(tx, path, name, RegistryValue { 4, bytes }); // REG_DWORD
}

} // namespace winsim
