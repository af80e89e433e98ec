// Where the threads of one parallel job wait for what another of them
// does (a band finished, a place freed), asleep rather than spinning. A
// waiter waits at a place, the number of what it waits for (a band's), and
// a change wakes the waiters of one place, or of every place. The thread
// that changes the job's state stores it first and then calls Changed; a
// waiter gives Wait the test of what it waits for, which is tried again
// under the lock, so no change is missed between the test and the sleep.
//
// Cost: a change takes the lock once and wakes only the waiters of its
// place (with more than kPlaces waiting, of places equal modulo kPlaces,
// which test again); without waiters it makes no system call.
#pragma once

#include <condition_variable>
#include <mutex>

#include "KLF_Types.h"

class KLF_WaitPoint {
 public:
  enum : u32 { kPlaces = 16 };

  template <class Ready>
  void Wait(u32 place, Ready ready) {
    if (ready()) return;
    std::unique_lock<std::mutex> hold(m_lock);
    m_places[place % kPlaces].wait(hold, ready);
  }

  void Changed(u32 place) {
    { std::lock_guard<std::mutex> hold(m_lock); }
    m_places[place % kPlaces].notify_all();
  }

  void ChangedEverywhere() {
    { std::lock_guard<std::mutex> hold(m_lock); }
    for (std::condition_variable& p : m_places) p.notify_all();
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_places[kPlaces];
};
