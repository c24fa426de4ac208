#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qf {

/// Where the preview server listens: the loopback address unless the user
/// names another.
struct ServeAddress {
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port
};

/// Reads "[ADDR:]PORT": "8080", "0.0.0.0:8080", "localhost:0", "[::1]:8080".
/// Returns false with a message when the text is none of these or the port
/// is above 65535.
bool parseServeAddress(std::string_view text, ServeAddress& address, std::string& error);

/// "http://HOST:PORT/", with brackets around an IPv6 host.
std::string urlOf(const std::string& host, int port);

/// The line that tells where a directory is served.
std::string servingLine(std::string_view directory, std::string_view url);

/// True when host (a name or address as --serve takes it) reaches this
/// computer only: "localhost", 127.0.0.0/8 or ::1.
bool isLoopbackHost(std::string_view host);

/// This computer's name and the addresses of its network interfaces (IPv6
/// ones without brackets), as the system gives them now.
std::vector<std::string> namesOfThisMachine();

/// The names a request's Host may give for a server, so that a page loaded
/// from elsewhere cannot reach the server through a name of its own that was
/// made to point here. Those are "localhost", "127.0.0.1", "[::1]" and the
/// served host; for a host other than the loopback one also this computer's
/// own names and addresses (namesOfThisMachine, asked again when a name is
/// not known). A ":PORT" after the name is allowed with any port, since a
/// forwarded port reaches the server under another number.
class ServedHostNames {
 public:
  explicit ServedHostNames(std::string_view servedHost);

  /// Whether a Host header's value names the server. Names compare without
  /// regard to case, addresses by their value ("[::1]" as "[0::1]").
  bool accept(std::string_view hostHeader) const;

 private:
  std::vector<std::string> names_;
  bool askMachine_;
};

}  // namespace qf
