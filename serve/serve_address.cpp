#include "serve/serve_address.h"

namespace qf {

namespace {

bool parsePort(std::string_view text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value > 65535) return false;
  port = value;
  return true;
}

}  // namespace

bool parseServeAddress(std::string_view text, ServeAddress& address, std::string& error) {
  ServeAddress parsed;
  std::string_view portText = text;
  const std::size_t colon = text.rfind(':');
  if (colon != std::string_view::npos) {
    std::string_view host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
      host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string_view::npos) {
      host = {};  // an IPv6 address needs its brackets
    }
    if (host.empty()) {
      error = "not an address and port: " + std::string(text);
      return false;
    }
    parsed.host = std::string(host);
    portText = text.substr(colon + 1);
  }
  if (!parsePort(portText, parsed.port)) {
    error = "not a port number (0 to 65535): " + std::string(portText);
    return false;
  }
  address = parsed;
  return true;
}

std::string urlOf(const std::string& host, int port) {
  const bool v6 = host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/";
}

std::string servingLine(std::string_view directory, std::string_view url) {
  return "Serving " + std::string(directory) + " at " + std::string(url);
}

}  // namespace qf
