// Locked, atomic read-modify-write: concurrent writers lose nothing (the
// sidecar lock excludes), a writer killed before its rename or out of room
// leaves the old file.
#include "host/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "host/ini_file.h"
#include "support/temp_dir.h"

namespace kestrin {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileOrDie;
using testing::WriteFileOrDie;

class AtomicFileTest : public ::testing::Test {
 protected:
  // Runs body in a child process; its return value is the exit status.
  static pid_t Fork(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    EXPECT_GE(pid, 0);
    return pid;
  }
  static int ExitStatus(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  // Names of temporary files left in the folder.
  std::set<std::string> Temporaries() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(tmp_.path())) {
      const std::string name = entry.path().filename().string();
      if (name.find(".tmp-") != std::string::npos) names.insert(name);
    }
    return names;
  }
  testing::ScopedTempDir tmp_;
};

TEST_F(AtomicFileTest, TwoProcessesWritingTheSameFileLoseNothing) {
  const std::string path = tmp_.Sub("shared.ini");
  const std::string head = "; shared by two writers\n[Keep]\nx=1\n";
  WriteFileOrDie(path, head);
  pid_t children[2];
  for (int w = 0; w < 2; ++w) {
    children[w] = Fork([&] {
      const IniFile ini(path);
      int failures = 0;
      for (int i = 0; i < 500; ++i) {
        failures += !ini.WriteString(w == 0 ? "S" : "T", "w" + std::to_string(w) + "_" + std::to_string(i),
                                     std::to_string(i));
      }
      return failures == 0 ? 0 : 1;
    });
  }
  for (const pid_t child : children) EXPECT_EQ(ExitStatus(child), 0);
  const IniFile ini(path);
  std::set<std::string> keys;
  for (const char* section : {"S", "T"}) {
    for (const std::string& key : ini.GetKeyNames(section)) keys.insert(key);
  }
  EXPECT_EQ(keys.size(), 1000u);
  EXPECT_EQ(ini.GetString("T", "w1_499"), "499");
  EXPECT_EQ(ReadFileOrDie(path).rfind(head, 0), 0u);
}

TEST_F(AtomicFileTest, WriterKilledBeforeRenameLeavesOldFile) {
  const std::string path = tmp_.Sub("victim.ini");
  WriteFileOrDie(path, "[S]\nold=1\n");
  const fs::path marker = tmp_.path() / "paused";
  const pid_t child = Fork([&] {
    ::setenv(kPauseBeforeRenameVariable, marker.c_str(), 1);
    IniFile(path).WriteString("S", "new", "2");
    return 0;
  });
  for (int i = 0; i < 2000 && !fs::exists(marker); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::exists(marker));
  // The new content is complete in the temporary file; the target is untouched.
  const std::set<std::string> temps = Temporaries();
  ASSERT_EQ(temps.size(), 1u);
  EXPECT_EQ(temps.begin()->rfind(".victim.ini.tmp-", 0), 0u);
  EXPECT_EQ(ReadFileOrDie(tmp_.path() / *temps.begin()), "[S]\nold=1\nnew=2\n");
  ::kill(child, SIGKILL);
  EXPECT_EQ(ExitStatus(child), 128 + SIGKILL);
  EXPECT_EQ(ReadFileOrDie(path), "[S]\nold=1\n");
  // The lock is on the sidecar, which stays; the lock died with the writer.
  const int fd = ::open((path + ".lock").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
  // The next writer proceeds and clears the dead writer's temporary file.
  EXPECT_TRUE(IniFile(path).WriteString("S", "after", "3"));
  EXPECT_EQ(ReadFileOrDie(path), "[S]\nold=1\nafter=3\n");
  EXPECT_TRUE(Temporaries().empty());
}

// Out of room (the file-size limit standing in for a full disk): the write
// fails, the old file stays, no temporary file is left.
TEST_F(AtomicFileTest, FailedWriteLeavesTheOldFile) {
  const std::string path = tmp_.Sub("full.ini");
  WriteFileOrDie(path, "[S]\nk=old\n");
  const pid_t child = Fork([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
    const IniFile ini(path);
    return !ini.WriteString("S", "k", std::string(10000, 'x')) && ini.LastStatus() == IniStatus::kWriteFailed ? 0 : 1;
  });
  EXPECT_EQ(ExitStatus(child), 0);
  EXPECT_EQ(ReadFileOrDie(path), "[S]\nk=old\n");
  EXPECT_TRUE(Temporaries().empty());
}

// Through a link, the real file is replaced and keeps its mode; the lock
// lies beside it. A new file gets 0666 less the umask.
TEST_F(AtomicFileTest, RewriteKeepsTheModeAndTheLink) {
  const std::string real = tmp_.Sub("real.ini");
  WriteFileOrDie(real, "old");
  ::chmod(real.c_str(), 0604);
  fs::create_symlink("real.ini", tmp_.path() / "link.ini");
  ASSERT_TRUE(WriteFileAtomically(tmp_.Sub("link.ini"), "new").ok());
  EXPECT_TRUE(fs::is_symlink(tmp_.path() / "link.ini"));
  EXPECT_EQ(ReadFileOrDie(real), "new");
  EXPECT_TRUE(fs::exists(real + ".lock"));
  EXPECT_EQ(fs::status(real).permissions(), fs::perms(0604));
  const mode_t mask = ::umask(022);
  ::umask(mask);
  ASSERT_TRUE(WriteFileAtomically(tmp_.Sub("fresh.ini"), "x").ok());
  EXPECT_EQ(fs::status(tmp_.path() / "fresh.ini").permissions(), fs::perms(0666 & ~mask));
}

// A temporary name in use (a folder, which the clean-up of dead writers'
// files leaves) is skipped for the next; after 101 more tries the write fails.
TEST_F(AtomicFileTest, TemporaryNamesInUseAreSkippedUpToALimit) {
  const std::string path = tmp_.Sub("busy.ini");
  const std::string prefix = ".busy.ini.tmp-" + std::to_string(::getpid()) + "-";
  for (int i = 0; i <= 100; ++i) fs::create_directory(tmp_.path() / (prefix + std::to_string(i)));
  ASSERT_TRUE(WriteFileAtomically(path, "first").ok());
  fs::create_directory(tmp_.path() / (prefix + "101"));
  const FileResult busy = WriteFileAtomically(path, "second");
  EXPECT_EQ(busy.error, FileError::kWriteFailed);
  EXPECT_NE(busy.message.find("temporary"), std::string::npos) << busy.message;
  EXPECT_EQ(ReadFileOrDie(path), "first");
}

TEST_F(AtomicFileTest, KeptContentWritesNothingAndDanglingLinksGetTheirTarget) {
  // An edit that keeps the content writes nothing, not even a new file.
  EXPECT_TRUE(UpdateFileLocked(tmp_.Sub("untouched"), [](std::string&, bool) { return EditAction::kKeep; }).ok());
  EXPECT_FALSE(fs::exists(tmp_.path() / "untouched"));
  // A dangling link gets its target created.
  fs::create_symlink("target.txt", tmp_.path() / "dangling");
  EXPECT_TRUE(WriteFileAtomically(tmp_.Sub("dangling"), "made").ok());
  EXPECT_EQ(ReadFileOrDie(tmp_.path() / "target.txt"), "made");
  EXPECT_TRUE(fs::is_symlink(tmp_.path() / "dangling"));
}

}  // namespace
}  // namespace kestrin
