#pragma once

// An owner's lifetime as the work it hands out sees it. A callback that may run
// after its owner is gone (posted to the main queue, run by a worker or a timer)
// carries a guard and does nothing once the guard has expired. Guards are
// checked on the thread that destroys the owner; they never keep it alive.

#include <memory>
#include <utility>

namespace glimmet {

class LifetimeGuard {
 public:
  // A guard of no owner: always expired.
  LifetimeGuard() = default;

  bool expired() const { return token_.expired(); }

 private:
  friend class Lifetime;
  explicit LifetimeGuard(std::weak_ptr<const int> token) : token_(std::move(token)) {}

  std::weak_ptr<const int> token_;
};

class Lifetime {
 public:
  Lifetime() = default;
  Lifetime(const Lifetime&) = delete;
  Lifetime& operator=(const Lifetime&) = delete;
  ~Lifetime() = default;

  LifetimeGuard guard() const { return LifetimeGuard(token_); }
  // Expires every guard now, before the owner starts tearing its members down.
  void end() { token_.reset(); }

 private:
  std::shared_ptr<const int> token_ = std::make_shared<const int>(0);
};

}  // namespace glimmet
