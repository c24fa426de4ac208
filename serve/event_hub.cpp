#include "serve/event_hub.h"

#include <utility>

namespace qf {

void EventHub::publish(const std::string& text, std::string greeting) {
  {
    std::lock_guard lock(mutex_);
    recent_.push_back(text);
    if (recent_.size() > kKept) recent_.pop_front();
    ++next_;
    greeting_ = std::move(greeting);
  }
  published_.notify_all();
}

EventHub::Position EventHub::subscribe(std::string& greeting) {
  std::lock_guard lock(mutex_);
  greeting = greeting_;
  return next_;
}

std::optional<std::string> EventHub::waitForEvents(Position& position,
                                                   std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  published_.wait_for(lock, wait, [&] { return closed_ || next_ > position; });
  if (closed_) return std::nullopt;
  // A stream that fell behind further than the kept events gets what is kept.
  const Position oldest = next_ - recent_.size();
  if (position < oldest) position = oldest;
  std::string text;
  for (; position < next_; ++position) text += recent_[position - oldest];
  return text;
}

void EventHub::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  published_.notify_all();
}

}  // namespace qf
