#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Client;
}

namespace qf {

/// For tests: reads the event stream of a preview server on the loopback
/// address, on a thread of its own, until the stream ends or stop() is
/// called (the reader then lets go at the next thing the stream carries).
class EventStreamReader {
 public:
  explicit EventStreamReader(int port);
  ~EventStreamReader();

  /// Waits at most five seconds for text to appear in the stream.
  bool waitFor(const std::string& text);
  /// Everything the stream carried so far.
  std::string received();
  void stop();
  bool ended() const { return ended_; }

 private:
  std::unique_ptr<httplib::Client> client_;
  std::mutex mutex_;
  std::string received_;
  bool stopped_ = false;
  std::atomic<bool> ended_ = false;
  std::thread thread_;
};

}  // namespace qf
