// An in-memory registry: a tree of keys with typed values under the
// predefined root keys, and the handle functions the plug-in uses. Where the
// stand-in must pick a behaviour it follows what Windows documents.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "platform/standin/standin.h"

namespace {

constexpr LONG ErrorInvalidParameter = 87;

// Key and value names are case-insensitive in Windows.
struct NoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::tolower(static_cast<unsigned char>(x)) <
             std::tolower(static_cast<unsigned char>(y));
    });
  }
};

struct Value {
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> bytes;
};

struct Key {
  std::map<std::string, std::unique_ptr<Key>, NoCaseLess> subKeys;
  std::map<std::string, Value, NoCaseLess> values;
};

struct OpenKey {
  Key* key;
  REGSAM access;
};

std::map<std::uintptr_t, Key> roots;
std::set<OpenKey*> openKeys;
bool failCreate = false;
bool failOpen = false;
bool failWrites = false;

bool IsPredefined(HKEY key) {
  const auto v = reinterpret_cast<std::uintptr_t>(key);
  return v >= 0x80000000u && v <= 0x80000006u;
}

// The key a handle stands for; null for a handle that is not open.
Key* Resolve(HKEY handle, REGSAM* access) {
  if (IsPredefined(handle)) {
    if (access != nullptr) *access = KEY_READ | KEY_WRITE;
    return &roots[reinterpret_cast<std::uintptr_t>(handle)];
  }
  auto* open = reinterpret_cast<OpenKey*>(handle);
  if (!openKeys.contains(open)) return nullptr;
  if (access != nullptr) *access = open->access;
  return open->key;
}

std::vector<std::string> SplitPath(const char* path) {
  std::vector<std::string> parts;
  std::string current;
  for (const char* p = path; p != nullptr && *p != '\0'; ++p) {
    if (*p == '\\') {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current += *p;
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

Key* Walk(Key* from, const std::vector<std::string>& parts, bool create, bool* created) {
  Key* key = from;
  for (const std::string& part : parts) {
    auto it = key->subKeys.find(part);
    if (it == key->subKeys.end()) {
      if (!create) return nullptr;
      it = key->subKeys.emplace(part, std::make_unique<Key>()).first;
      if (created != nullptr) *created = true;
    }
    key = it->second.get();
  }
  return key;
}

Key* CurrentUserKey(const std::string& path, bool create) {
  return Walk(&roots[0x80000001u], SplitPath(path.c_str()), create, nullptr);
}

HKEY NewHandle(Key* key, REGSAM access) {
  auto* open = new OpenKey{key, access};
  openKeys.insert(open);
  return reinterpret_cast<HKEY>(open);
}

bool CanRead(REGSAM access) { return (access & 0x0001) != 0; }   // KEY_QUERY_VALUE
bool CanWrite(REGSAM access) { return (access & 0x0002) != 0; }  // KEY_SET_VALUE

}  // namespace

namespace standin {

void SetRegistryValue(const std::string& path, const std::string& name, DWORD type,
                      const std::vector<std::uint8_t>& bytes) {
  CurrentUserKey(path, true)->values[name] = Value{type, bytes};
}

bool GetRegistryValue(const std::string& path, const std::string& name, DWORD* type,
                      std::vector<std::uint8_t>* bytes) {
  Key* key = CurrentUserKey(path, false);
  if (key == nullptr) return false;
  auto it = key->values.find(name);
  if (it == key->values.end()) return false;
  if (type != nullptr) *type = it->second.type;
  if (bytes != nullptr) *bytes = it->second.bytes;
  return true;
}

bool RegistryKeyExists(const std::string& path) { return CurrentUserKey(path, false) != nullptr; }

std::vector<std::string> RegistryValueNames(const std::string& path) {
  std::vector<std::string> names;
  if (Key* key = CurrentUserKey(path, false)) {
    for (const auto& [name, value] : key->values) names.push_back(name);
  }
  return names;
}

void ClearRegistry() {
  for (OpenKey* open : openKeys) delete open;
  openKeys.clear();
  roots.clear();
  failCreate = false;
  failOpen = false;
  failWrites = false;
}

void FailKeyCreation(bool on) { failCreate = on; }
void FailKeyOpen(bool on) { failOpen = on; }
void FailValueWrites(bool on) { failWrites = on; }
int OpenRegistryKeyCount() { return static_cast<int>(openKeys.size()); }

}  // namespace standin

extern "C" LONG RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  if (result == nullptr) return ErrorInvalidParameter;
  *result = nullptr;
  Key* from = Resolve(parent, nullptr);
  if (from == nullptr) return ERROR_INVALID_HANDLE;
  if (failOpen) return ERROR_ACCESS_DENIED;
  Key* key = Walk(from, SplitPath(subKey), false, nullptr);
  if (key == nullptr) return ERROR_FILE_NOT_FOUND;
  *result = NewHandle(key, access);
  return ERROR_SUCCESS;
}

extern "C" LONG RegCreateKeyExA(HKEY parent, LPCSTR subKey, DWORD reserved, LPSTR, DWORD,
                                REGSAM access, const SECURITY_ATTRIBUTES*, PHKEY result,
                                LPDWORD disposition) {
  if (result == nullptr || reserved != 0) return ErrorInvalidParameter;
  *result = nullptr;
  Key* from = Resolve(parent, nullptr);
  if (from == nullptr) return ERROR_INVALID_HANDLE;
  if (failCreate) return ERROR_ACCESS_DENIED;
  bool created = false;
  Key* key = Walk(from, SplitPath(subKey), true, &created);
  if (disposition != nullptr)
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewHandle(key, access);
  return ERROR_SUCCESS;
}

// As documented: a missing value gives ERROR_FILE_NOT_FOUND; no buffer asks
// only for the size; a value longer than the buffer gives ERROR_MORE_DATA
// with the needed size and the buffer left alone; a shorter one succeeds
// with its own size.
// NOLINTNEXTLINE(readability-non-const-parameter): the Win32 signature
extern "C" LONG RegQueryValueExA(HKEY handle, LPCSTR name, LPDWORD reserved, LPDWORD type,
                                 LPBYTE data, LPDWORD size) {
  if (reserved != nullptr) return ErrorInvalidParameter;
  if (data != nullptr && size == nullptr) return ErrorInvalidParameter;
  REGSAM access = 0;
  Key* key = Resolve(handle, &access);
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  if (!CanRead(access)) return ERROR_ACCESS_DENIED;
  auto it = key->values.find(name != nullptr ? name : "");
  if (it == key->values.end()) return ERROR_FILE_NOT_FOUND;
  const Value& value = it->second;
  if (type != nullptr) *type = value.type;
  const auto length = static_cast<DWORD>(value.bytes.size());
  if (data == nullptr) {
    if (size != nullptr) *size = length;
    return ERROR_SUCCESS;
  }
  if (*size < length) {
    *size = length;
    return ERROR_MORE_DATA;
  }
  if (length != 0) std::memcpy(data, value.bytes.data(), length);
  *size = length;
  return ERROR_SUCCESS;
}

extern "C" LONG RegSetValueExA(HKEY handle, LPCSTR name, DWORD, DWORD type, const BYTE* data,
                               DWORD size) {
  REGSAM access = 0;
  Key* key = Resolve(handle, &access);
  if (key == nullptr) return ERROR_INVALID_HANDLE;
  if (!CanWrite(access) || failWrites) return ERROR_ACCESS_DENIED;
  if (data == nullptr && size != 0) return ErrorInvalidParameter;
  Value value;
  value.type = type;
  if (size != 0) value.bytes.assign(data, data + size);
  key->values[name != nullptr ? name : ""] = std::move(value);
  return ERROR_SUCCESS;
}

extern "C" LONG RegCloseKey(HKEY handle) {
  if (IsPredefined(handle)) return ERROR_SUCCESS;
  auto* open = reinterpret_cast<OpenKey*>(handle);
  if (openKeys.erase(open) == 0) return ERROR_INVALID_HANDLE;
  delete open;
  return ERROR_SUCCESS;
}
