// A shared library loaded while the program runs, for a dependency that
// only some commands need: the program then starts without resolving its
// symbols. POSIX only (dlopen); the Windows build has no user of it.
#ifndef KESTRIN_HOST_SHARED_LIBRARY_H_
#define KESTRIN_HOST_SHARED_LIBRARY_H_

#include <memory>
#include <string>
#include <utility>

namespace kestrin {

class SharedLibrary {
 public:
  // Loads the library `name` (a soname such as "libz.so.1", searched for
  // the way the dynamic loader searches a program's dependencies, or a
  // path) with all its symbols resolved at once. Null when it cannot be
  // loaded; `error` then names the library and the loader's reason.
  static std::unique_ptr<SharedLibrary> Open(const std::string& name, std::string* error);
  // Unloads the library; whatever was taken from it must no longer be used.
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The address of the exported function or object `symbol`; null when the
  // library has none, with `error` naming the symbol and the library.
  void* Find(const char* symbol, std::string* error) const;

  const std::string& name() const { return name_; }

 private:
  SharedLibrary(void* handle, std::string name) : handle_(handle), name_(std::move(name)) {}
  void* handle_;
  std::string name_;
};

}  // namespace kestrin

#endif  // KESTRIN_HOST_SHARED_LIBRARY_H_
