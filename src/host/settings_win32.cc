// The Korvane settings library tessel32.dll, loaded from the program folder
// (the usual search order of LoadLibrary). Without it, Kestrin answers as it
// does on Linux: the fixed settings path and ProgramDataDir as the folder of
// the connection file.
#include <cstring>

#include "host/settings.h"
#include "host/win32_util.h"

namespace kestrin {
namespace {

// The settings record that names the connection-file folder.
constexpr int kProjectSettingsRecord = 640;
// The record's connection-file folder starts at this byte.
constexpr size_t kConnectionDirOffset = 48;

using GetSubKeyFunction = const char*(__cdecl*)();
using GetSettingsFunction = const void*(__cdecl*)(int);

struct Library {
  HMODULE module = nullptr;
  GetSubKeyFunction get_sub_key = nullptr;
  GetSettingsFunction get_settings = nullptr;
};

template <typename F>
F Export(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Loaded once, kept for the life of the process (the texts it returns
// belong to it).
const Library& Tessel() {
  static const Library library = [] {
    Library lib;
    lib.module = LoadLibraryA("tessel32.dll");
    if (lib.module != nullptr) {
      lib.get_sub_key = Export<GetSubKeyFunction>(lib.module, "VqmGetRegistrySubKey");
      lib.get_settings = Export<GetSettingsFunction>(lib.module, "VqmGetGlobalProjectSettings_set");
    }
    return lib;
  }();
  return library;
}

}  // namespace

const char* VqmGetRegistrySubKey() {
  if (const Library& lib = Tessel(); lib.get_sub_key != nullptr) {
    if (const char* text = lib.get_sub_key(); text != nullptr) return text;
  }
  return kDefaultSettingsSubKey;
}

std::optional<std::string> SettingsLibraryConnectionDir() {
  if (const Library& lib = Tessel(); lib.get_settings != nullptr) {
    const auto* record = static_cast<const char*>(lib.get_settings(kProjectSettingsRecord));
    if (record != nullptr) return std::string(record + kConnectionDirOffset);
  }
  return std::nullopt;
}

}  // namespace kestrin
