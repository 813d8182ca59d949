#include "app/system_host.h"

#include <memory>

#include "bundle/bundle.h"
#include "connections/server_class.h"
#include "host/product_env.h"

namespace kestrin {

Host& SystemHost() {
  static const std::unique_ptr<ITelvorServerClass> telvor =
      MakeTelvorServerClass([] { return ConnectionFileDir(SystemHost()); });
  static Host host{SystemFileSystem(), SystemIniFiles(), SystemRegistry(),       SystemProcesses(),
                   SystemLibraries(),  SystemMachine(),  SystemBundleUnpacker(), *telvor};
  return host;
}

}  // namespace kestrin
