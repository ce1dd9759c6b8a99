// Reading registry values below HKEY_LOCAL_MACHINE.
#include "apicall.h"
#include "handletable.h"
#include "registrystate.h"
#include "textcodec.h"

#include <cstring>

using namespace winsim;

namespace {

constexpr LSTATUS kBadPathname = 161; // ERROR_BAD_PATHNAME
constexpr LSTATUS kKeyDeleted = 1018; // ERROR_KEY_DELETED
constexpr DWORD kOpenLink = 0x8; // REG_OPTION_OPEN_LINK

// The path of an open key; false when the value is no key this process has open.
bool keyPath(HKEY key, std::string *path)
{
    if (key == HKEY_LOCAL_MACHINE) {
        path->clear();
        return true;
    }
    HandleEntry entry;
    if (!HandleTable::instance().find(key, { HandleKind::RegistryKey }, &entry))
        return false;
    *path = entry.key;
    return true;
}

} // namespace

extern "C" {

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    return LSTATUS(statusCall("RegOpenKeyExW", [&]() -> DWORD {
        std::string base;
        if (!keyPath(hKey, &base))
            return ERROR_INVALID_HANDLE;
        if (!phkResult || (ulOptions & ~kOpenLink))
            return ERROR_INVALID_PARAMETER;
        const auto sub = normalRegistryPath(toUtf8(lpSubKey));
        if (!sub)
            return kBadPathname;
        const std::string path = base.empty() ? *sub : (sub->empty() ? base : base + "\\" + *sub);
        Transaction tx(Transaction::Read);
        if (!registryKeyExists(tx, path))
            return ERROR_FILE_NOT_FOUND;
        HandleEntry entry;
        entry.kind = HandleKind::RegistryKey;
        entry.key = path;
        entry.access = samDesired;
        *phkResult = static_cast<HKEY>(HandleTable::instance().open(entry));
        return ERROR_SUCCESS;
    }));
}

LSTATUS WINAPI RegQueryValueExW(
    HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    return LSTATUS(statusCall("RegQueryValueExW", [&]() -> DWORD {
        std::string path;
        if (!keyPath(hKey, &path))
            return ERROR_INVALID_HANDLE;
        if (lpReserved || (lpData && !lpcbData))
            return ERROR_INVALID_PARAMETER;
        Transaction tx(Transaction::Read);
        if (!registryKeyExists(tx, path))
            return kKeyDeleted;
        const auto value = registryValue(tx, path, toUtf8(lpValueName));
        if (!value)
            return ERROR_FILE_NOT_FOUND;
        if (lpType)
            *lpType = value->type;
        if (!lpcbData)
            return ERROR_SUCCESS;
        const DWORD size = DWORD(value->data.size());
        if (lpData && *lpcbData < size) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        if (lpData && size)
            std::memcpy(lpData, value->data.data(), size);
        *lpcbData = size;
        return ERROR_SUCCESS;
    }));
}

LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    return LSTATUS(statusCall("RegCloseKey", [&]() -> DWORD {
        // Predefined keys are not opened, so closing one does nothing.
        if (hKey == HKEY_LOCAL_MACHINE)
            return ERROR_SUCCESS;
        return HandleTable::instance().close(hKey, { HandleKind::RegistryKey }) ? ERROR_SUCCESS
                                                                                : ERROR_INVALID_HANDLE;
    }));
}

} // extern "C"
