#include "serve/serve_address.h"

#include <gtest/gtest.h>

#include <string>

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

TEST(ServedHostNames, AcceptsOnlyTheLoopbackNamesAndTheServedHost) {
  const struct {
    const char* served;
    const char* host;
    bool accepted;
  } cases[] = {
      {"127.0.0.1", "localhost", true},
      {"127.0.0.1", "LocalHost:8080", true},
      {"127.0.0.1", "127.0.0.1:1", true},
      {"127.0.0.1", "[::1]", true},
      {"127.0.0.1", "[0:0::1]:8080", true},
      {"127.0.0.2", "127.0.0.2:8080", true},
      {"::1", "[::1]:8080", true},
      {"0.0.0.0", "0.0.0.0:8080", true},
      {"myhost", "MYHOST", true},
      {"127.0.0.1", "evil.example", false},
      {"127.0.0.1", "evil.example:8080", false},
      {"127.0.0.1", "localhost.evil.example", false},
      {"127.0.0.1", "127.0.0.1.nip.example", false},
      {"127.0.0.1", "127.0.0.2", false},
      {"127.0.0.1", "0.0.0.0", false},
      {"127.0.0.1", "", false},
      {"127.0.0.1", ":8080", false},
      {"127.0.0.1", "localhost:", false},
      {"127.0.0.1", "localhost:http", false},
      {"127.0.0.1", "localhost:65536", false},
      {"127.0.0.1", "localhost:8080:8080", false},
      {"127.0.0.1", "[::1", false},
      {"127.0.0.1", "[::1]x", false},
      {"127.0.0.1", "[127.0.0.1]", false},
      {"127.0.0.1", "[localhost]", false},
      {"127.0.0.1", "::1", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ServedHostNames(c.served).accept(c.host), c.accepted) << c.served << " " << c.host;
  }
}

TEST(ServedHostNames, AcceptThisMachinesNamesOnlyWhenServedBeyondIt) {
  EXPECT_TRUE(isLoopbackHost("127.0.0.1") && isLoopbackHost("LOCALHOST") && isLoopbackHost("::1") &&
              isLoopbackHost("127.1.2.3"));
  EXPECT_FALSE(isLoopbackHost("0.0.0.0") || isLoopbackHost("::") || isLoopbackHost("10.0.0.1") ||
               isLoopbackHost("myhost"));
  std::vector<std::string> own;
  for (const std::string& name : namesOfThisMachine()) {
    if (!isLoopbackHost(name))
      own.push_back(name.find(':') == std::string::npos ? name : "[" + name + "]");
  }
  if (own.empty()) GTEST_SKIP() << "this machine has no name or address besides the loopback ones";
  for (const std::string& name : own) {
    EXPECT_TRUE(ServedHostNames("0.0.0.0").accept(name + ":8080")) << name;
    EXPECT_TRUE(ServedHostNames("::").accept(name)) << name;
    EXPECT_FALSE(ServedHostNames("127.0.0.1").accept(name)) << name;
  }
}

}  // namespace
}  // namespace qf
