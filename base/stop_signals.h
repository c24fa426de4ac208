#pragma once

namespace qf {

/// While it exists, SIGINT, SIGTERM, SIGHUP and SIGQUIT no longer end the
/// process: the first one is remembered and makes descriptor() readable, so
/// that a loop waiting on it can finish its work and close down in order. One
/// at a time.
class StopSignals {
 public:
  StopSignals();
  /// Puts back the handlers that were there before.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  /// Readable once a signal came (never read here; may be polled by many).
  int descriptor() const;
  /// The number of the first signal that came; 0 while none did.
  int caught() const;
  /// Blocks until a signal has come and returns its number; 0 when the
  /// descriptor was closed under the wait.
  int wait() const;
};

/// Ends the process as signal does by default, so that the parent sees it
/// ended by that signal.
[[noreturn]] void endWithSignal(int signal);

}  // namespace qf
