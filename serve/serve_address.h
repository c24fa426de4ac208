#pragma once

#include <string>
#include <string_view>

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

}  // namespace qf
