// One Zelvor a user: the first instance holds a name that later ones find,
// ask it to bring its window forward, and end.
#pragma once

#include <functional>
#include <string>

namespace zelvor {

class SingleInstance {
 public:
  enum class Role {
    // This process holds the name.
    first,
    // Another instance of this user holds it and was asked to come forward.
    other,
    // The name could not be used at all; the program runs on by itself.
    alone,
  };

  // Claims `name` (by default the user's own, see userName). Never throws.
  explicit SingleInstance(const std::string& name = userName());
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  Role role() const noexcept { return role_; }

  // For the first instance: from now on the window's thread calls `raise`
  // for each later instance's request, from FLTK's loop.
  void serve(std::function<void()> raise);

  // "zelvor-" and the user's id.
  static std::string userName();
  // What a later instance sends.
  static constexpr const char* raiseRequest = "raise";
  // How long the first instance waits for a request's bytes once a later
  // one has connected, and how long a later one keeps trying to connect
  // while the first is still between claiming and listening.
  static constexpr int requestWaitMs = 100;
  static constexpr int connectAttempts = 20;
  static constexpr int connectRetryMs = 50;

 private:
  static void onRequest(int fd, void* instance);
  void acceptRequests();

  int fd_ = -1;  // the listening socket; owned
  Role role_ = Role::alone;
  bool watched_ = false;
  std::function<void()> raise_;
};

}  // namespace zelvor
