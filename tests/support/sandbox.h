// A throw-away Korvane for tests, laid out by scripts/make-sandbox.
#ifndef KESTRIN_TESTS_SUPPORT_SANDBOX_H_
#define KESTRIN_TESTS_SUPPORT_SANDBOX_H_

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrin::testing {

struct Sandbox {
  std::string dir;          // the sandbox folder (absolute)
  std::string registry;     // KESTRIN_REGISTRY: dir/registry.reg
  std::string product_dir;  // KESTRIN_PRODUCT_DIR: dir/Program
  std::string data_home;    // XDG_DATA_HOME: dir/home
  std::string ini_dir;      // dir/Ini/ (IniPath, with its trailing separator)
  std::string data_dir;     // dir/Data (ProgramDataDir less its separator)
};

// Runs scripts/make-sandbox into dir with the given options (such as
// {"--version", "5.0"} or {"--without", "oemcab"}) and returns its paths. A
// failure of the script fails the current test.
Sandbox MakeSandbox(const std::filesystem::path& dir, const std::vector<std::string>& options = {});

// Sets or (with nullopt) unsets one environment variable for a scope.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, const std::optional<std::string>& value);
  ~ScopedEnv();

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Sets KESTRIN_REGISTRY, KESTRIN_PRODUCT_DIR and XDG_DATA_HOME for this
// process (and the children it starts) and restores the old values after.
struct ScopedSandboxEnv {
  explicit ScopedSandboxEnv(const Sandbox& s)
      : registry("KESTRIN_REGISTRY", s.registry),
        product_dir("KESTRIN_PRODUCT_DIR", s.product_dir),
        data_home("XDG_DATA_HOME", s.data_home) {}
  ScopedEnv registry, product_dir, data_home;
};

}  // namespace kestrin::testing

#endif  // KESTRIN_TESTS_SUPPORT_SANDBOX_H_
