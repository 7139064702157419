// The kept Schannel credentials handles (tls_credentials_win32.h).
#include "platform/tls_credentials_win32.h"

#include <chrono>
#include <list>

#include "platform/lock.h"

namespace hv::platform {
namespace {

constexpr size_t kKeys = 4;
constexpr int kMaxAgeSeconds = 300;

using Clock = std::chrono::steady_clock;

struct Entry {
  std::string key;
  SharedCredentials credentials;
  Clock::time_point made;
};

// Constant-initialised and never destroyed (see the header).
Lock store_lock;
std::list<Entry>* entries = nullptr;  // the most recently used first

// The live entry for `key`, made the most recently used; an entry past its
// age is dropped. Under the lock.
std::list<Entry>::iterator Find(const std::string& key) {
  for (auto it = entries->begin(); it != entries->end(); ++it) {
    if (it->key != key) continue;
    if (Clock::now() - it->made > std::chrono::seconds(kMaxAgeSeconds)) {
      entries->erase(it);
      return entries->end();
    }
    entries->splice(entries->begin(), *entries, it);
    return entries->begin();
  }
  return entries->end();
}

}  // namespace

uint32_t TakeCredentials(const std::string& key, const std::function<uint32_t(CredHandle*)>& acquire,
                         Credentials::Release release, SharedCredentials* out, bool* reused) {
  *reused = false;
  LockHold hold(store_lock);
  if (entries == nullptr) entries = new std::list<Entry>;
  auto it = key.empty() ? entries->end() : Find(key);
  if (it != entries->end()) {
    *out = it->credentials;
    *reused = true;
    return 0;
  }
  auto made = std::make_shared<Credentials>();
  uint32_t rc = acquire(&made->handle);
  if (rc != 0) return rc;
  made->release = release;
  *out = made;
  if (key.empty()) return 0;
  if (entries->size() >= kKeys) entries->pop_back();
  entries->push_front(Entry{key, made, Clock::now()});
  return 0;
}

void DropCredentials(const std::string& key, const Credentials* which) {
  LockHold hold(store_lock);
  if (entries == nullptr) return;
  entries->remove_if([&](const Entry& e) { return e.key == key && e.credentials.get() == which; });
}

void ForgetCredentials() {
  LockHold hold(store_lock);
  if (entries != nullptr) entries->clear();
}

size_t CredentialsKept() {
  LockHold hold(store_lock);
  return entries == nullptr ? 0 : entries->size();
}

}  // namespace hv::platform
