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
  EXPECT_EQ(ExitStatus(children[0]), 0);
  EXPECT_EQ(ExitStatus(children[1]), 0);
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

TEST_F(AtomicFileTest, UpdateReportsWhatFailed) {
  std::string content;
  EXPECT_EQ(ReadWholeFile(tmp_.Sub("none"), content).error, FileError::kMissing);
  const FileResult nodir = WriteFileAtomically(tmp_.Sub("gone/file"), "x");
  EXPECT_EQ(nodir.error, FileError::kFolderMissing);
  EXPECT_NE(nodir.message.find("gone/file"), std::string::npos);
  // An edit that keeps the content writes nothing, not even a new file.
  EXPECT_TRUE(UpdateFileLocked(tmp_.Sub("untouched"), [](std::string&, bool) { return EditAction::kKeep; }).ok());
  EXPECT_FALSE(fs::exists(tmp_.path() / "untouched"));
  // A dangling link gets its target created.
  fs::create_symlink("target.txt", tmp_.path() / "dangling");
  EXPECT_TRUE(WriteFileAtomically(tmp_.Sub("dangling"), "made").ok());
  EXPECT_EQ(ReadFileOrDie(tmp_.path() / "target.txt"), "made");
  EXPECT_TRUE(fs::is_symlink(tmp_.path() / "dangling"));
}

// Another user's sidecar (0644) can still be locked; a file we may not read
// is unreadable, not missing. Needs root to act as another user.
TEST_F(AtomicFileTest, OtherUsersSidecarAndUnreadableFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to switch to another user";
  // The test folder may lie below one the other user cannot enter (a
  // checkout in a private temporary folder): work in a folder of the system
  // temporary folder instead, if that user can reach it.
  std::string base = (fs::temp_directory_path() / "kestrin-other-user-XXXXXX").string();
  if (::mkdtemp(base.data()) == nullptr) GTEST_SKIP() << "cannot make a folder in " << fs::temp_directory_path();
  struct RemoveFolder {
    std::string path;
    ~RemoveFolder() {
      std::error_code ec;
      fs::permissions(path + "/secret.ini", fs::perms::owner_all, ec);
      fs::remove_all(path, ec);
    }
  } remove{base};
  fs::permissions(base, fs::perms::all);
  const pid_t probe = Fork([&] {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 10;
    return ::access(base.c_str(), W_OK | X_OK) == 0 ? 0 : 1;
  });
  if (ExitStatus(probe) != 0) {
    GTEST_SKIP() << "user 65534 cannot reach " << base << " (a folder above it is closed to it)";
  }
  const std::string shared = base + "/shared.ini";
  const std::string secret = base + "/secret.ini";
  WriteFileOrDie(shared, "[S]\n");
  ::chmod(shared.c_str(), 0666);
  WriteFileOrDie(shared + ".lock", "");
  ::chmod((shared + ".lock").c_str(), 0644);
  WriteFileOrDie(secret, "[S]\nk=v\n");
  fs::permissions(secret, fs::perms::none);
  const pid_t child = Fork([&] {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 10;
    const IniFile hidden(secret);
    return (IniFile(shared).WriteString("S", "k", "v") ? 0 : 1) |
           (hidden.GetString("S", "k") == "" && hidden.LastStatus() == IniStatus::kUnreadable ? 0 : 2) |
           (!hidden.WriteString("S", "k", "w") && hidden.LastStatus() == IniStatus::kUnreadable ? 0 : 4);
  });
  EXPECT_EQ(ExitStatus(child), 0);
  EXPECT_EQ(ReadFileOrDie(shared), "[S]\nk=v\n");
}

}  // namespace
}  // namespace kestrin
