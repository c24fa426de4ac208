#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace qf {

/// Hands events to every open event stream. Each stream starts with the
/// greeting (the event that new pages must see at once, e.g. the failures of
/// the last build) and then gets each event published after it began.
/// Thread-safe.
class EventHub {
 public:
  /// Where a stream stands: the number of the next event it gets.
  using Position = std::uint64_t;

  /// Publishes text (one or more formatted events) and sets the greeting.
  void publish(const std::string& text, std::string greeting);

  /// Opens a stream: its position and the greeting to send first.
  Position subscribe(std::string& greeting);

  /// Waits up to wait for events after position and returns them (advancing
  /// position); "" when none came; nullopt once the hub is closed.
  std::optional<std::string> waitForEvents(Position& position, std::chrono::milliseconds wait);

  /// Ends every stream's wait, now and later.
  void close();

 private:
  static constexpr std::size_t kKept = 64;  // events a slow stream may fall behind by

  std::mutex mutex_;
  std::condition_variable published_;
  std::deque<std::string> recent_;
  Position next_ = 0;  // the number the next published event gets
  std::string greeting_;
  bool closed_ = false;
};

}  // namespace qf
