// Locked, atomic read-modify-write: concurrent writers lose nothing, a writer
// killed before its rename leaves the old file, the sidecar lock excludes.
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

bool WaitFor(const fs::path& path, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (fs::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int ExitStatus(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class AtomicFileTest : public ::testing::Test {
 protected:
  testing::ScopedTempDir tmp_;
};

TEST_F(AtomicFileTest, TwoProcessesWritingTheSameFileLoseNothing) {
  const std::string path = tmp_.Sub("shared.ini");
  WriteFileOrDie(path, "; shared by two writers\n[Keep]\nx=1\n");
  constexpr int kPerWriter = 500;
  pid_t children[2];
  for (int w = 0; w < 2; ++w) {
    children[w] = ::fork();
    ASSERT_GE(children[w], 0);
    if (children[w] == 0) {
      const IniFile ini(path);
      int failures = 0;
      for (int i = 0; i < kPerWriter; ++i) {
        std::string key = "w";
        key.append(std::to_string(w)).append("_").append(std::to_string(i));
        if (!ini.WriteString(w == 0 ? "S" : "T", key, std::to_string(i))) ++failures;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
  }
  EXPECT_EQ(ExitStatus(children[0]), 0);
  EXPECT_EQ(ExitStatus(children[1]), 0);
  const IniFile ini(path);
  std::set<std::string> keys;
  for (const char* section : {"S", "T"}) {
    for (const std::string& key : ini.GetKeyNames(section)) keys.insert(key);
  }
  EXPECT_EQ(keys.size(), 2u * kPerWriter);
  EXPECT_EQ(ini.GetString("T", "w1_499"), "499");
  EXPECT_EQ(ini.GetString("Keep", "x"), "1");
  EXPECT_EQ(ReadFileOrDie(path).rfind("; shared by two writers\n[Keep]\nx=1\n", 0), 0u);
}

TEST_F(AtomicFileTest, WriterKilledBeforeRenameLeavesOldFile) {
  const std::string path = tmp_.Sub("victim.ini");
  const std::string old_content = "[S]\nold=1\n";
  WriteFileOrDie(path, old_content);
  const fs::path marker = tmp_.path() / "paused";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::setenv(kPauseBeforeRenameVariable, marker.c_str(), 1);
    IniFile(path).WriteString("S", "new", "2");
    ::_exit(0);
  }
  ASSERT_TRUE(WaitFor(marker, std::chrono::seconds(20)));
  // The new content is complete in the temporary file; the target is untouched.
  bool temp_seen = false;
  for (const auto& entry : fs::directory_iterator(tmp_.path())) {
    const std::string name = entry.path().filename().string();
    if (name.find(".victim.ini.tmp-") == 0) {
      temp_seen = true;
      EXPECT_EQ(ReadFileOrDie(entry.path()), "[S]\nold=1\nnew=2\n");
    }
  }
  EXPECT_TRUE(temp_seen);
  ::kill(child, SIGKILL);
  EXPECT_EQ(ExitStatus(child), 128 + SIGKILL);
  EXPECT_EQ(ReadFileOrDie(path), old_content);

  // The sidecar stays; its lock died with the writer.
  const std::string lock_path = path + ".lock";
  ASSERT_TRUE(fs::exists(lock_path));
  const int fd = ::open(lock_path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);

  // The next writer proceeds and clears the dead writer's temporary file.
  EXPECT_TRUE(IniFile(path).WriteString("S", "after", "3"));
  EXPECT_EQ(ReadFileOrDie(path), "[S]\nold=1\nafter=3\n");
  for (const auto& entry : fs::directory_iterator(tmp_.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".victim.ini.tmp-"), std::string::npos);
  }
}

TEST_F(AtomicFileTest, WriterWaitsForTheSidecarLock) {
  const std::string path = tmp_.Sub("locked.ini");
  WriteFileOrDie(path, "[S]\n");
  const int fd = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(IniFile(path).WriteString("S", "k", "v") ? 0 : 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(ReadFileOrDie(path), "[S]\n");  // still waiting
  ::flock(fd, LOCK_UN);
  ::close(fd);
  EXPECT_EQ(ExitStatus(child), 0);
  EXPECT_EQ(ReadFileOrDie(path), "[S]\nk=v\n");
}

TEST_F(AtomicFileTest, UpdateReportsWhatFailed) {
  std::string content;
  EXPECT_EQ(ReadWholeFile(tmp_.Sub("none"), content).error, FileError::kMissing);
  const FileResult nodir = WriteFileAtomically(tmp_.Sub("gone/file"), "x");
  EXPECT_EQ(nodir.error, FileError::kFolderMissing);
  EXPECT_NE(nodir.message.find("gone/file"), std::string::npos);

  // An edit that keeps the content writes nothing, not even on a new file.
  const FileResult kept = UpdateFileLocked(tmp_.Sub("untouched"), [](std::string&, bool exists) {
    EXPECT_FALSE(exists);
    return EditAction::kKeep;
  });
  EXPECT_TRUE(kept.ok());
  EXPECT_FALSE(fs::exists(tmp_.path() / "untouched"));

  // A dangling link gets its target created.
  fs::create_symlink("target.txt", tmp_.path() / "dangling");
  EXPECT_TRUE(WriteFileAtomically(tmp_.Sub("dangling"), "made").ok());
  EXPECT_EQ(ReadFileOrDie(tmp_.path() / "target.txt"), "made");
  EXPECT_TRUE(fs::is_symlink(tmp_.path() / "dangling"));
}

// A write that runs out of room (here: the file-size limit, as a full disk
// would) fails, leaves the old file and no temporary file.
TEST_F(AtomicFileTest, FailedWriteLeavesTheOldFile) {
  const std::string path = tmp_.Sub("full.ini");
  const std::string old_content = "[S]\nk=old\n";
  WriteFileOrDie(path, old_content);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(10);
    const IniFile ini(path);
    const bool written = ini.WriteString("S", "k", std::string(10000, 'x'));
    ::_exit(!written && ini.LastStatus() == IniStatus::kWriteFailed ? 0 : 1);
  }
  EXPECT_EQ(ExitStatus(child), 0);
  EXPECT_EQ(ReadFileOrDie(path), old_content);
  for (const auto& entry : fs::directory_iterator(tmp_.path())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos);
  }
}

// Another user's sidecar (0644) can still be locked; a file we may not read
// is reported as unreadable, not as missing. Needs root to act as another user.
TEST_F(AtomicFileTest, OtherUsersSidecarAndUnreadableFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to switch to another user";
  fs::permissions(tmp_.path(), fs::perms::all);
  const std::string shared = tmp_.Sub("shared.ini");
  WriteFileOrDie(shared, "[S]\n");
  fs::permissions(shared, fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec |
                                             fs::perms::others_exec));
  const int lock = ::open((shared + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(lock, 0);
  ::fchmod(lock, 0644);
  ::close(lock);
  const std::string secret = tmp_.Sub("secret.ini");
  WriteFileOrDie(secret, "[S]\nk=v\n");
  fs::permissions(secret, fs::perms::none);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
    int failures = 0;
    if (!IniFile(shared).WriteString("S", "k", "v")) failures |= 1;
    const IniFile hidden(secret);
    if (hidden.GetString("S", "k") != "" || hidden.LastStatus() != IniStatus::kUnreadable) {
      failures |= 2;
    }
    if (hidden.WriteString("S", "k", "w") || hidden.LastStatus() != IniStatus::kUnreadable) {
      failures |= 4;
    }
    ::_exit(failures);
  }
  EXPECT_EQ(ExitStatus(child), 0);
  EXPECT_EQ(ReadFileOrDie(shared), "[S]\nk=v\n");
}

}  // namespace
}  // namespace kestrin
