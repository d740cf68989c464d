// GoogleTest port overrides for MinGW's win32 thread model, which has no
// std::mutex or std::condition_variable. GoogleTest needs them only for its
// internal Notification (which our tests never use); this one spins on an
// atomic flag instead.
#ifndef GLMIRE_GTEST_CUSTOM_PORT_H_
#define GLMIRE_GTEST_CUSTOM_PORT_H_

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  Notification() : notified_(false) {}
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify() { notified_.store(true); }
  void WaitForNotification() {
    while (!notified_.load()) {
    }
  }

 private:
  std::atomic<bool> notified_;
};

}  // namespace internal
}  // namespace testing

#endif  // GLMIRE_GTEST_CUSTOM_PORT_H_
