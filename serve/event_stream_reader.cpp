#include "serve/event_stream_reader.h"

#include <httplib.h>

#include <chrono>

#include "serve/live_reload.h"

namespace qf {

EventStreamReader::EventStreamReader(int port)
    : client_(std::make_unique<httplib::Client>("127.0.0.1", port)) {
  client_->set_connection_timeout(2);
  client_->set_read_timeout(30);
  thread_ = std::thread([this] {
    client_->Get(std::string(kEventsPath).c_str(), [this](const char* data, std::size_t length) {
      std::lock_guard lock(mutex_);
      received_.append(data, length);
      return !stopped_;
    });
    ended_ = true;
  });
}

EventStreamReader::~EventStreamReader() {
  stop();
  thread_.join();
}

bool EventStreamReader::waitFor(const std::string& text) {
  for (int i = 0; i < 500; ++i) {
    if (received().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string EventStreamReader::received() {
  std::lock_guard lock(mutex_);
  return received_;
}

void EventStreamReader::stop() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
}

}  // namespace qf
