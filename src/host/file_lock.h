// An exclusive lock held on a lock file, for as long as the object lives.
//
// The lock file exists only while someone holds or waits for the lock: the
// holder removes it before it lets go. A waiter that then gets the lock on
// the removed file sees that the path no longer names it and tries again on
// the new one, so two holders never hold "the same" lock on different files.
// A holder that dies (kill, crash, power loss) loses the lock with its
// process; the file it leaves is taken over by the next one.
#ifndef KESTRIN_HOST_FILE_LOCK_H_
#define KESTRIN_HOST_FILE_LOCK_H_

#include <cstdint>
#include <string>

namespace kestrin {

class FileLock {
 public:
  enum class Outcome {
    kHeld,    // the lock is ours
    kBusy,    // another process holds it (only without waiting)
    kFailed,  // the lock file cannot be made or locked (`error` says why)
  };

  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() { Release(); }

  // Takes the lock on the file `path`, creating it in its existing folder.
  // With `wait`, blocks until the lock is free. `system_error` receives the
  // system's error number (errno or GetLastError) of a failure.
  Outcome Take(const std::string& path, bool wait, std::string* error,
               unsigned long* system_error = nullptr);
  bool held() const { return handle_ != -1; }
  // Removes the lock file and lets go; nothing when not held.
  void Release();

 private:
  intptr_t handle_ = -1;  // descriptor or HANDLE of the locked file
  std::string path_;
};

}  // namespace kestrin

#endif  // KESTRIN_HOST_FILE_LOCK_H_
