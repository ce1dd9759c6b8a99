// The registry below HKEY_LOCAL_MACHINE, as far as the driver values need it. Paths are relative to
// HKEY_LOCAL_MACHINE, with backslashes, and compare without regard to case.
#pragma once

#include "transaction.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

struct RegistryValue
{
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

// The path with empty components refused: nullopt for "a\\\\b" or "\\a".
std::optional<std::string> normalRegistryPath(const std::string &path);

bool registryKeyExists(Transaction &tx, const std::string &path);
void createRegistryKey(Transaction &tx, const std::string &path);
void deleteRegistryTree(Transaction &tx, const std::string &path);
std::optional<RegistryValue> registryValue(Transaction &tx, const std::string &path, const std::string &name);
void setRegistryValue(
    Transaction &tx, const std::string &path, const std::string &name, const RegistryValue &value);
// A REG_SZ value: the UTF-16 text with its terminator.
void setRegistryText(
    Transaction &tx, const std::string &path, const std::string &name, const std::string &text);
// A REG_DWORD value.
void setRegistryNumber(Transaction &tx, const std::string &path, const std::string &name, uint32_t number);

} // namespace winsim
