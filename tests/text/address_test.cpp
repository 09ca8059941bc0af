#include "text/address.hpp"

#include <gtest/gtest.h>

#include <string>

namespace veltrano {
namespace {

TEST(AddressTest, PlainIsOneDotAtomMailboxWithinTheLengths) {
  const std::string local64(64, 'l');
  // 64 + 1 + 189 = 254 octets.
  const std::string domain189 = std::string(185, 'd') + ".org";
  const struct {
    std::string address;
    bool plain, overlong;
  } cases[] = {
      // clang-format off
      {"ann@example.org", true, false}, {"root@localhost", true, false},
      {"a.b+tag@x.y", true, false}, {"!#$%&'*+-/=?^_`{|}~@x", true, false},
      {local64 + "@" + domain189, true, false},
      {local64 + "l@x", false, true}, {local64 + "@" + domain189 + "x", false, true},
      {std::string(300, 'l'), false, true},  // no '@': all of it counts as the local part
      {"", false, false}, {"ann", false, false}, {"@x", false, false}, {"ann@", false, false},
      {".ann@x", false, false}, {"ann.@x", false, false}, {"a..b@x", false, false},
      {"ann@x.", false, false}, {"ann@.x", false, false}, {"ann@x..y", false, false},
      {"\"x@evil\"@x", false, false}, {"x@evil(c)@x", false, false},
      {"x@evil, y@x", false, false}, {"x@evil y@x", false, false}, {"Ann <ann@x>", false, false},
      {"@r.example:ann@x", false, false}, {"ann@[192.0.2.1]", false, false},
      {"ann@x@y", false, false}, {"ann@x\r\n", false, false}, {"ann\t@x", false, false},
      {"zo\xc3\xab@x", false, false}, {"ann@x\x7f", false, false},
      {"a@" + std::string(400, 'x'), false, true},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsPlainAddress(c.address), c.plain) << c.address;
    EXPECT_EQ(IsOverlongAddress(c.address), c.overlong) << c.address;
  }
}

// Sender: the null sender or one plain address; Reply-To: one plain address
// that routes nowhere else.
TEST(AddressTest, SenderAndReplyTo) {
  const struct {
    const char* address;
    bool sender, replyTo;
  } cases[] = {
      {"form@example.org", true, true},     {"", true, false},
      {"x%evil@example.org", true, false},  {"x!evil@example.org", true, false},
      {"form@a@example.org", false, false}, {"webmaster", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsUsableSender(c.address), c.sender) << c.address;
    EXPECT_EQ(IsUsableReplyTo(c.address), c.replyTo) << c.address;
  }
}

// Only ASCII goes into an envelope, and nothing that ends a line or the
// angle brackets around an address.
TEST(AddressTest, UnsafeBytesAndNonAscii) {
  const struct {
    std::string address;
    bool unsafe;
  } cases[] = {
      // clang-format off
      {"ann@example.org", false}, {"j@xn--bcher-kva.example", false}, {"\"a b\"@x", false},
      {"j\xc3\xb6rg@b\xc3\xbc" "cher.example", true}, {"a@x\x80", true}, {"a@x\xff", true},
      {"a@x\x7f", true}, {"a\r@x", true}, {"a\n@x", true}, {std::string("a\0@x", 4), true},
      {"<a@x>", true},
      // clang-format on
  };
  for (const auto& c : cases) EXPECT_EQ(IsUnsafeAddress(c.address), c.unsafe) << c.address;
}

}  // namespace
}  // namespace veltrano
