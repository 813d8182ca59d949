// A host that plans instead of installing: every change a run makes through
// it is recorded, nothing reaches the machine, and every read answers from
// the recorded changes first and from the machine below them. A run on it
// therefore sees its own earlier changes (a plan of two bundles is exact),
// and what it records is what the same run on the machine would change.
//
// Bundles are unpacked into memory; programs and driver libraries are noted,
// not started (they count as started and successful); connections are
// noted with their settings. The machine's reads (where Korvane lives, the
// registry, the files) come from the Host below.
#ifndef KESTRIN_CTL_PLANNING_HOST_H_
#define KESTRIN_CTL_PLANNING_HOST_H_

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"

namespace kestrin::ctl {

// The key a path is known by in the plan: paths compare as the platform's
// file system compares them (as given on POSIX, ASCII letters folded on
// Windows).
std::string PathKey(std::string_view path);

// Whether the platform's connection server answers the creation of a
// connection that exists with S_FALSE, as the connection file's server
// does (the plan then answers so too). The Telvor that Windows reaches
// through COM keeps its own rules; the plan takes it to accept.
bool ConnectionServerObjectsToExisting();

// One change of the plan.
struct tPlannedChange {
  // "file", "folder", "ini", "registry", "program", "library", "connection"
  std::string kind;
  // file: "create", "replace", "delete"; folder: "create", "delete";
  // ini: "set", "delete-key", "delete-section"; registry: "set";
  // program: "run"; library: "register", "unregister"; connection: "create"
  std::string action;
  std::string target;  // path, key path, command line or connection name
  std::string detail;  // ini "[section] key=value"; a copy's source; a connection's settings
  // Where the run was when it made the change (for a file or folder, its
  // last change): the bundle and "prepare" or the step's name; both empty
  // before the first bundle (the copies into OEMCAB).
  std::string bundle;
  std::string phase;
  // The change leaves its target as it is: a file replaced by the same
  // bytes, an INI key or registry value set to the value it holds (a
  // registry list that only gains a closing ";" included), a
  // connection set up as it stands; in the installation record, an entry
  // that names the item's owner again. Programs and library registrations
  // are never the same.
  bool same = false;
};

class PlanningHost {
 public:
  explicit PlanningHost(Host& machine);
  ~PlanningHost();
  PlanningHost(const PlanningHost&) = delete;
  PlanningHost& operator=(const PlanningHost&) = delete;

  Host& host();
  // Where the run is now (CProgressDlg::OnPhase); noted with each change.
  void SetPhase(const std::string& bundle, const std::string& phase);

  // The plan: the net changes of files and folders (what differs between
  // the machine and the end of the run), by path, then every other change
  // in the order made.
  std::vector<tPlannedChange> Changes();
  // The content each planned file would have at the end (nothing for one
  // deleted), by path.
  std::map<std::string, std::optional<std::string>> FinalFiles() const;

  struct Impl;

 private:
  void StampEvents();
  std::unique_ptr<Impl> impl_;
};

}  // namespace kestrin::ctl

#endif  // KESTRIN_CTL_PLANNING_HOST_H_
