#include "serve/serve_address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <optional>

namespace qf {

namespace {

bool sameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// An IPv4 or IPv6 address as its bytes, so that spellings of one address
// compare equal; nullopt for a name.
std::optional<std::array<unsigned char, 17>> addressBytes(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  std::array<unsigned char, 17> bytes{};
  const std::string text(host);
  if (inet_pton(AF_INET, text.c_str(), bytes.data() + 1) == 1) return bytes;
  bytes[0] = 6;
  if (inet_pton(AF_INET6, text.c_str(), bytes.data() + 1) == 1) return bytes;
  return std::nullopt;
}

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

bool known(std::string_view host, const std::vector<std::string>& names) {
  const auto bytes = addressBytes(host);
  // A bracketed host is an IPv6 address or nothing.
  if (host.starts_with('[') && (!bytes || (*bytes)[0] != 6)) return false;
  return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
    return bytes ? addressBytes(name) == bytes : sameName(name, host);
  });
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

bool isLoopbackHost(std::string_view host) {
  if (sameName(host, "localhost")) return true;
  const auto bytes = addressBytes(host);
  if (!bytes) return false;
  if ((*bytes)[0] == 0) return (*bytes)[1] == 127;
  const std::array<unsigned char, 17> ipv6Loopback = {6, 0, 0, 0, 0, 0, 0, 0, 0,
                                                      0, 0, 0, 0, 0, 0, 0, 1};
  return *bytes == ipv6Loopback;
}

std::vector<std::string> namesOfThisMachine() {
  std::vector<std::string> names;
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') names.emplace_back(name);
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return names;
  for (const ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr) continue;
    char text[INET6_ADDRSTRLEN] = {};
    const int family = a->ifa_addr->sa_family;
    const void* address =
        family == AF_INET
            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr)
        : family == AF_INET6 ? static_cast<const void*>(
                                   &reinterpret_cast<const sockaddr_in6*>(a->ifa_addr)->sin6_addr)
                             : nullptr;
    if (address && inet_ntop(family, address, text, sizeof text)) names.emplace_back(text);
  }
  freeifaddrs(list);
  return names;
}

ServedHostNames::ServedHostNames(std::string_view servedHost)
    : names_{"localhost", "127.0.0.1", "::1", std::string(servedHost)},
      askMachine_(!isLoopbackHost(servedHost)) {}

bool ServedHostNames::accept(std::string_view hostHeader) const {
  std::string_view host = hostHeader;
  std::string_view port;
  if (host.starts_with('[')) {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos) return false;
    port = host.substr(close + 1);
    host = host.substr(0, close + 1);
  } else if (const std::size_t colon = host.find(':'); colon != std::string_view::npos) {
    port = host.substr(colon);
    host = host.substr(0, colon);
  }
  int ignored = 0;
  if (host.empty() || (!port.empty() && !(port[0] == ':' && parsePort(port.substr(1), ignored)))) {
    return false;
  }
  return known(host, names_) || (askMachine_ && known(host, namesOfThisMachine()));
}

std::string urlOf(const std::string& host, int port) {
  const bool v6 = host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port) + "/";
}

std::string servingLine(std::string_view directory, std::string_view url) {
  return "Serving " + std::string(directory) + " at " + std::string(url);
}

}  // namespace qf
