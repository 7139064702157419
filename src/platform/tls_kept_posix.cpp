// The kept client sessions of the OpenSSL build (tls_kept_posix.h).
#include "platform/tls_kept_posix.h"

#include <chrono>
#include <list>

#include "platform/lock.h"

namespace hv::platform::kept {
namespace {

using Clock = std::chrono::steady_clock;

struct Entry {
  std::string key;
  SSL_CTX* ctx = nullptr;
  std::vector<Session> sessions;  // the newest last
  Clock::time_point made;
};

void Free(std::vector<Session>* sessions) {
  for (Session& s : *sessions) SSL_SESSION_free(s.session);
  sessions->clear();
}

class Store {
 public:
  // OpenSSL is set up first, so that its own clean-up at exit runs after
  // this store's destructor, which frees OpenSSL's objects.
  Store() { OPENSSL_init_ssl(0, nullptr); }
  ~Store() { Forget(); }

  SSL_CTX* Take(const std::string& key, const std::function<SSL_CTX*()>& make, Session* session,
                uint64_t* generation) {
    LockHold hold(lock_);
    *generation = generation_;
    Entry* entry = Find(key);
    if (entry == nullptr) {
      SSL_CTX* ctx = make();
      if (ctx == nullptr) return nullptr;
      while (entries_.size() >= kKeys) Drop(std::prev(entries_.end()));
      entries_.push_front(Entry{key, ctx, {}, Clock::now()});
      entry = &entries_.front();
    }
    if (!entry->sessions.empty()) {
      *session = entry->sessions.back();
      entry->sessions.pop_back();
    }
    SSL_CTX_up_ref(entry->ctx);
    return entry->ctx;
  }

  void Keep(const std::string& key, uint64_t generation, std::vector<Session>* sessions) {
    std::vector<Session> dropped;
    {
      LockHold hold(lock_);
      Entry* entry = generation == generation_ ? Find(key) : nullptr;
      for (Session& s : *sessions) {
        if (entry != nullptr && SSL_SESSION_is_resumable(s.session) == 1) {
          entry->sessions.push_back(s);
          if (entry->sessions.size() > kSessionsPerKey) {
            dropped.push_back(entry->sessions.front());
            entry->sessions.erase(entry->sessions.begin());
          }
        } else {
          dropped.push_back(s);
        }
      }
      sessions->clear();
    }
    Free(&dropped);
  }

  void Forget() {
    LockHold hold(lock_);
    ++generation_;
    while (!entries_.empty()) Drop(entries_.begin());
  }

  size_t Count() {
    LockHold hold(lock_);
    size_t count = 0;
    for (const Entry& e : entries_) count += e.sessions.size();
    return count;
  }

 private:
  // The live entry for `key`, made the most recently used; an entry past
  // its age is dropped.
  Entry* Find(const std::string& key) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->key != key) continue;
      if (Clock::now() - it->made > std::chrono::seconds(kMaxAgeSeconds)) {
        Drop(it);
        return nullptr;
      }
      entries_.splice(entries_.begin(), entries_, it);
      return &entries_.front();
    }
    return nullptr;
  }

  void Drop(std::list<Entry>::iterator it) {
    Free(&it->sessions);
    SSL_CTX_free(it->ctx);
    entries_.erase(it);
  }

  Lock lock_;
  std::list<Entry> entries_;  // the most recently used first
  uint64_t generation_ = 1;
};

Store& TheStore() {
  static Store store;
  return store;
}

}  // namespace

SSL_CTX* Take(const std::string& key, const std::function<SSL_CTX*()>& make, Session* session,
              uint64_t* generation) {
  return TheStore().Take(key, make, session, generation);
}

void Keep(const std::string& key, uint64_t generation, std::vector<Session>* sessions) {
  TheStore().Keep(key, generation, sessions);
}

void Forget() { TheStore().Forget(); }

size_t Count() { return TheStore().Count(); }

}  // namespace hv::platform::kept
