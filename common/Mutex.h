// The standard mutexes with the annotations the thread-safety analysis needs,
// and their scoped locks; libstdc++'s own carry none.
#pragma once

#include "common/ThreadAnnotations.h"

#include <mutex>
#include <shared_mutex>

namespace paxelle {

class CAPABILITY("mutex") Mutex {
 public:
  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  // For std::condition_variable_any, whose waits release and take it again.
  void lock() ACQUIRE() { Lock(); }
  void unlock() RELEASE() { Unlock(); }

 private:
  std::mutex mutex_;
};

// One writer or many readers.
class CAPABILITY("mutex") SharedMutex {
 public:
  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  void LockShared() ACQUIRE_SHARED() { mutex_.lock_shared(); }
  void UnlockShared() RELEASE_SHARED() { mutex_.unlock_shared(); }

 private:
  std::shared_mutex mutex_;
};

// Holds `mutex` exclusively for its scope, but between an Unlock and the next Lock.
template <class M>
class SCOPED_CAPABILITY BasicMutexLock {
 public:
  explicit BasicMutexLock(M& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~BasicMutexLock() RELEASE() { if (held_) mutex_.Unlock(); }
  BasicMutexLock(const BasicMutexLock&) = delete;
  BasicMutexLock& operator=(const BasicMutexLock&) = delete;
  void Unlock() RELEASE() { held_ = false; mutex_.Unlock(); }
  void Lock() ACQUIRE() { mutex_.Lock(); held_ = true; }

 private:
  M& mutex_;
  bool held_ = true;
};
using MutexLock = BasicMutexLock<Mutex>;
using WriterLock = BasicMutexLock<SharedMutex>;

// Holds `mutex` shared for its scope.
class SCOPED_CAPABILITY ReaderLock {
 public:
  explicit ReaderLock(SharedMutex& mutex) ACQUIRE_SHARED(mutex) : mutex_(mutex) { mutex_.LockShared(); }
  ~ReaderLock() RELEASE() { mutex_.UnlockShared(); }
  ReaderLock(const ReaderLock&) = delete;
  ReaderLock& operator=(const ReaderLock&) = delete;

 private:
  SharedMutex& mutex_;
};

}  // namespace paxelle
