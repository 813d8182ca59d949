// Stand-ins for driver libraries with self-registration entry points.
// Built three ways (see CMakeLists.txt): KESTRIN_REGISTER_RESULT sets what
// DllRegisterServer returns; without it the library exports nothing.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#ifdef KESTRIN_REGISTER_RESULT
namespace {

int32_t Mark(const char* text, int32_t result) {
  if (const char* path = std::getenv("KESTRIN_REGISTER_MARK")) {
    if (FILE* f = std::fopen(path, "a")) {
      std::fputs(text, f);
      std::fclose(f);
    }
  }
  return result;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t DllRegisterServer() {
  return Mark("register;", static_cast<int32_t>(KESTRIN_REGISTER_RESULT));
}

extern "C" __attribute__((visibility("default"))) int32_t DllUnregisterServer() {
  return Mark("unregister;", 1);  // S_FALSE is a success too
}
#else
extern "C" __attribute__((visibility("default"))) int32_t SomethingElse() { return 0; }
#endif
