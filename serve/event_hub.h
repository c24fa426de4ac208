#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

namespace qf {

/// Hands events to the open event streams, at most a fixed number of them:
/// opening one more ends the one open longest. Each stream starts with the
/// greeting (the event that new pages must see at once, e.g. the failures of
/// the last build) and then gets each event published after it began.
/// Thread-safe.
class EventHub {
 public:
  /// One open stream: where it stands and who it is.
  struct Stream {
    std::uint64_t id = 0;
    std::uint64_t position = 0;  // the number of the next event it gets
  };

  /// What waiting on a stream brought.
  struct News {
    enum class Kind {
      kEvents,    // text: the events that came, "" when none came in time
      kReplaced,  // a newer stream took this one's place
      kClosed,    // the hub is closed
    };
    Kind kind = Kind::kEvents;
    std::string text;
  };

  explicit EventHub(std::size_t maxStreams);

  /// Publishes text (one or more formatted events) and sets the greeting.
  void publish(const std::string& text, std::string greeting);

  /// Opens a stream and gives the greeting to send first. When maxStreams
  /// are open already, the oldest is replaced.
  Stream subscribe(std::string& greeting);

  /// Ends a stream, freeing its place. Safe for a replaced stream.
  void unsubscribe(const Stream& stream);

  /// Waits up to wait for events after the stream's position and advances
  /// it past those returned.
  News waitForEvents(Stream& stream, std::chrono::milliseconds wait);

  /// The streams open now.
  std::size_t openStreams();

  /// Ends every stream's wait, now and later.
  void close();

 private:
  static constexpr std::size_t kKept = 64;  // events a slow stream may fall behind by

  bool isOpen(std::uint64_t id) const;

  const std::size_t maxStreams_;
  std::mutex mutex_;
  std::condition_variable published_;
  std::deque<std::string> recent_;
  std::uint64_t next_ = 0;  // the number the next published event gets
  std::string greeting_;
  std::deque<std::uint64_t> open_;  // ids of the open streams, oldest first
  std::uint64_t nextId_ = 0;
  bool closed_ = false;
};

}  // namespace qf
