// A resolver that never answers, for the tests of bounded name lookups on
// Linux: called in a child process of its own (a gtest death test), it
// makes a private mount namespace, lays a resolv.conf naming 127.0.0.77
// over /etc/resolv.conf and binds a UDP socket there that reads nothing.
// Needs root; the caller exits with `code` when it cannot. Linux only.
#ifndef HV_TESTS_SUPPORT_SILENT_NAMESERVER_H_
#define HV_TESTS_SUPPORT_SILENT_NAMESERVER_H_

#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace hv::testing {

// Writes the resolver's configuration: `nameserver` with resolv.conf's
// options line `options`. False when it could not be written.
inline bool WriteResolverConf(const char* path, const char* nameserver, const char* options) {
  int fd = open(path, O_WRONLY | O_TRUNC | O_CREAT, 0644);
  std::string text = std::string("nameserver ") + nameserver + "\noptions " + options + "\n";
  bool ok = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd >= 0) close(fd);
  return ok;
}

inline void UseSilentNameserver(const char* options, int code) {
  char conf[] = "/tmp/hv-resolv-XXXXXX";
  int fd = mkstemp(conf);
  if (fd < 0) _exit(code);
  close(fd);
  bool ok = WriteResolverConf(conf, "127.0.0.77", options) && unshare(CLONE_NEWNS) == 0 &&
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            mount(conf, "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
  unlink(conf);
  int udp = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(53);
  at.sin_addr.s_addr = htonl(0x7F00004D);  // 127.0.0.77
  if (!ok || udp < 0 || bind(udp, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) _exit(code);
}

// From then on lookups fail at once: nothing listens at the nameserver
// named now (the resolver reads the changed file at its next lookup).
inline bool MakeNameserverRefuse() {
  return WriteResolverConf("/etc/resolv.conf", "127.0.0.78", "timeout:1 attempts:1");
}

}  // namespace hv::testing

#endif  // HV_TESTS_SUPPORT_SILENT_NAMESERVER_H_
