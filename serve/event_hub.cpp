#include "serve/event_hub.h"

#include <algorithm>
#include <utility>

namespace qf {

EventHub::EventHub(std::size_t maxStreams) : maxStreams_(std::max<std::size_t>(1, maxStreams)) {}

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

EventHub::Stream EventHub::subscribe(std::string& greeting) {
  bool replaced = false;
  Stream stream;
  {
    std::lock_guard lock(mutex_);
    greeting = greeting_;
    stream = {nextId_++, next_};
    open_.push_back(stream.id);
    while (open_.size() > maxStreams_) {
      open_.pop_front();
      replaced = true;
    }
  }
  if (replaced) published_.notify_all();
  return stream;
}

void EventHub::unsubscribe(const Stream& stream) {
  std::lock_guard lock(mutex_);
  const auto it = std::find(open_.begin(), open_.end(), stream.id);
  if (it != open_.end()) open_.erase(it);
}

EventHub::News EventHub::waitForEvents(Stream& stream, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  published_.wait_for(lock, wait,
                      [&] { return closed_ || next_ > stream.position || !isOpen(stream.id); });
  if (closed_) return {News::Kind::kClosed, ""};
  if (!isOpen(stream.id)) return {News::Kind::kReplaced, ""};
  // A stream that fell behind further than the kept events gets what is kept.
  const std::uint64_t oldest = next_ - recent_.size();
  if (stream.position < oldest) stream.position = oldest;
  std::string text;
  for (; stream.position < next_; ++stream.position) text += recent_[stream.position - oldest];
  return {News::Kind::kEvents, std::move(text)};
}

std::size_t EventHub::openStreams() {
  std::lock_guard lock(mutex_);
  return open_.size();
}

void EventHub::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  published_.notify_all();
}

bool EventHub::isOpen(std::uint64_t id) const {
  return std::find(open_.begin(), open_.end(), id) != open_.end();
}

}  // namespace qf
