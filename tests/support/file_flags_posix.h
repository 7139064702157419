// A file attribute of the file system (chattr's: append-only, immutable)
// set on a file for as long as the object lives, for tests that stage what
// an administrator may do to the log. Setting one needs root and a file
// system that has it: set() says whether it took.
#ifndef HV_TESTS_SUPPORT_FILE_FLAGS_POSIX_H_
#define HV_TESTS_SUPPORT_FILE_FLAGS_POSIX_H_

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>

namespace hv::testing {

class HeldFileFlag {
 public:
  // `flag`: FS_APPEND_FL, FS_IMMUTABLE_FL.
  HeldFileFlag(const std::filesystem::path& path, int flag) : fd_(open(path.c_str(), O_RDONLY)) {
    set_ = fd_ >= 0 && ioctl(fd_, FS_IOC_GETFLAGS, &flags_) == 0 && Apply(flags_ | flag);
  }
  // The file gets its flags back (a file left append-only or immutable
  // could not be removed with its folder).
  ~HeldFileFlag() {
    if (set_) Apply(flags_);
    if (fd_ >= 0) close(fd_);
  }
  HeldFileFlag(const HeldFileFlag&) = delete;
  HeldFileFlag& operator=(const HeldFileFlag&) = delete;
  bool set() const { return set_; }

 private:
  bool Apply(int flags) { return ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0; }
  int fd_;
  int flags_ = 0;
  bool set_ = false;
};

}  // namespace hv::testing

#endif  // HV_TESTS_SUPPORT_FILE_FLAGS_POSIX_H_
