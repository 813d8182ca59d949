#include <dlfcn.h>

#include "host/shared_library.h"

namespace kestrin {
namespace {

std::string LoaderError() {
  const char* why = dlerror();
  return why != nullptr ? why : "unknown reason";
}

}  // namespace

std::unique_ptr<SharedLibrary> SharedLibrary::Open(const std::string& name, std::string* error) {
  // RTLD_LOCAL: the library's symbols serve only the lookups made here,
  // never the program's other libraries.
  void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    *error = "cannot load " + name + ": " + LoaderError();
    return nullptr;
  }
  return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle, name));
}

SharedLibrary::~SharedLibrary() { dlclose(handle_); }

void* SharedLibrary::Find(const char* symbol, std::string* error) const {
  dlerror();
  void* address = dlsym(handle_, symbol);
  if (address == nullptr) {
    *error = std::string("no ") + symbol + " in " + name_ + ": " + LoaderError();
  }
  return address;
}

}  // namespace kestrin
