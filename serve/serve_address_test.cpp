#include "serve/serve_address.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

TEST(ParseServeAddress, ReadsPortWithOrWithoutAddress) {
  const struct {
    const char* text;
    const char* host;
    int port;
  } cases[] = {
      {"8080", "127.0.0.1", 8080},   {"0", "127.0.0.1", 0},
      {"0.0.0.0:80", "0.0.0.0", 80}, {"localhost:65535", "localhost", 65535},
      {"[::1]:9000", "::1", 9000},
  };
  for (const auto& c : cases) {
    ServeAddress address;
    std::string error;
    ASSERT_TRUE(parseServeAddress(c.text, address, error)) << c.text << ": " << error;
    EXPECT_EQ(address.host, c.host);
    EXPECT_EQ(address.port, c.port);
  }
}

TEST(ParseServeAddress, RefusesWhatIsNoAddressAndPort) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"", "not a port number (0 to 65535): "},
      {"65536", "not a port number (0 to 65535): 65536"},
      {"80x", "not a port number (0 to 65535): 80x"},
      {"-1", "not a port number (0 to 65535): -1"},
      {"host:", "not a port number (0 to 65535): "},
      {":8080", "not an address and port: :8080"},
      {"::1:8080", "not an address and port: ::1:8080"},
      {"123456", "not a port number (0 to 65535): 123456"},
  };
  for (const auto& c : cases) {
    ServeAddress address;
    std::string error;
    EXPECT_FALSE(parseServeAddress(c.text, address, error)) << c.text;
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(address.port, 8080);
  }
}

TEST(UrlOf, BracketsIpv6Hosts) {
  EXPECT_EQ(urlOf("127.0.0.1", 8080), "http://127.0.0.1:8080/");
  EXPECT_EQ(urlOf("::1", 80), "http://[::1]:80/");
  EXPECT_EQ(servingLine("build/site", urlOf("127.0.0.1", 8080)),
            "Serving build/site at http://127.0.0.1:8080/");
}

}  // namespace
}  // namespace qf
