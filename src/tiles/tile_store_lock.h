// A reader/writer lock that lets a waiting writer in before newly arriving readers.
// std::shared_mutex on glibc prefers readers: under a steady stream of tile look-ups (the map
// server's client threads, the view) the downloader's short index update could wait without
// end. Usable with std::shared_lock and std::unique_lock.
#pragma once
#include <pthread.h>

namespace velmora {

class CWriterFirstLock {
 public:
  CWriterFirstLock() {
    pthread_rwlockattr_t attr;
    pthread_rwlockattr_init(&attr);
    pthread_rwlockattr_setkind_np(&attr, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
    pthread_rwlock_init(&lock_, &attr);
    pthread_rwlockattr_destroy(&attr);
  }
  ~CWriterFirstLock() { pthread_rwlock_destroy(&lock_); }
  CWriterFirstLock(const CWriterFirstLock&) = delete;
  CWriterFirstLock& operator=(const CWriterFirstLock&) = delete;

  void lock() { pthread_rwlock_wrlock(&lock_); }
  void unlock() { pthread_rwlock_unlock(&lock_); }
  void lock_shared() { pthread_rwlock_rdlock(&lock_); }
  void unlock_shared() { pthread_rwlock_unlock(&lock_); }

 private:
  pthread_rwlock_t lock_;
};

}  // namespace velmora
