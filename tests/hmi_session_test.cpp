// Command syntax, reply framing, the dispatch table and the login.
#include <cstring>
#include <set>

#include "core/config.h"
#include "hmi/dispatch.h"
#include "hmi/session.h"
#include "program/cipher.h"
#include "tests/support/fixture.h"
#include "tests/support/hmi_slot.h"
#include "tools/client/client.h"

namespace {

HmiCommand parsed(const std::string& line) {
  HmiCommand c;
  EXPECT_TRUE(parse_HMI(line, c)) << line;
  return c;
}

TEST(HmiParse, NumbersTextAndTilde) {
  std::string many = "x|";  // more numbers than the command holds
  for (int i = 1; i <= 25; ++i) many += "|" + std::to_string(i);
  struct Case {
    std::string line;
    const char *text, *text2;  // nullptr: not checked
    std::vector<u32> n;        // the leading numbers (signed fields hold their bit pattern)
  } const cases[] = {
      {"pos||7", nullptr, nullptr, {7}}, {"pos|x|7", "x", nullptr, {7}}, {"pos", nullptr, nullptr, {0}},
      {"loop||-1", nullptr, nullptr, {~0u}}, {"loop||-0x10", nullptr, nullptr, {u32(-16)}},
      {"x||0x10", nullptr, nullptr, {0}},  // unsigned fields are decimal
      {"x||4294967295", nullptr, nullptr, {4294967295u}}, {"x||1||3", nullptr, nullptr, {1, 0, 3}},
      {"varen|a~b", "a", "b", {}}, {"varen|tank", nullptr, "tank", {}}, {"x|a~b~c", nullptr, "c", {}},
      {"x|{a~b}", "{a~b}", nullptr, {}}, {many, nullptr, nullptr, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}},
  };
  for (const Case& c : cases) {
    HmiCommand h = parsed(c.line);
    if (c.text) { EXPECT_EQ(h.text, c.text) << c.line; }
    if (c.text2) { EXPECT_EQ(h.text2, c.text2) << c.line; }
    for (size_t i = 0; i < c.n.size(); ++i) EXPECT_EQ(h.n[i], c.n[i]) << c.line << " " << i;
  }
  HmiCommand c;
  EXPECT_TRUE(parse_HMI("abcdefghijk", c));
  EXPECT_FALSE(parse_HMI("abcdefghijkl", c));
  EXPECT_FALSE(parse_HMI("abcdefghijkl|x", c));
  // The text field stops at position 4000; the numbers after it still count.
  HmiCommand big = parsed("x|" + std::string(5000, 'a') + "|9");
  EXPECT_EQ(big.text.size(), HMI_TEXT_LIMIT - 2);
  EXPECT_EQ(big.n[0], 9u);
}

TEST(HmiDispatch, EveryKeywordFindsItsOwnEntry) {
  std::set<std::string> seen;
  for (const auto& e : command_table()) {
    EXPECT_TRUE(seen.insert(e.keyword).second) << e.keyword;
    EXPECT_EQ(find_command(e.keyword), &e);
    EXPECT_NE(e.run, nullptr);
  }
}

class HmiSession : public ProgramTest {
 protected:
  HmiSlots slots;
};

TEST_F(HmiSession, FramingAndSimpleReplies) {
  int s = slots.open(2);
  const std::pair<const char*, const char*> replies[] = {
      {"", "fail\n\r"}, {"nosuchcmd", "fail\n\r"}, {"term", "sync\n\r"}, {"flush", "eob\n\r"},
      {"status", "Stop\n\r"}, {"users", "none\nVersion 0.946\nNo name\n\r"}, {"sname", "no name\n\r"},
      {"alive", "fail\n\r"}, {"rsys||0|1", "fail\n\r"},  // not logged in
      {"sconfig||4|5|3|0|1", ""},                         // never answers
  };
  for (const auto& [cmd, reply] : replies) EXPECT_EQ(slots.ask(s, cmd), reply) << cmd;
}

class HmiLogin : public HmiSession {
 protected:
  void SetUp() override {
    HmiSession::SetUp();
    // Entry 0: the programmer; entry 1: an operator at levels 1..3.
    gen_password[0].password = "boss";
    gen_password[0].key = 0x1234567u;
    gen_password[1] = {"op", 1, 3, 0xCAFE};
  }
  std::string login(int s, const std::string& pw, u32 key) {
    std::string ch = slots.ask(s, "mvar|" + quorclient::encode_password(pw));
    if (ch.size() != 34) return ch;
    return slots.ask(s, "auth|" + quorclient::answer_challenge(ch.substr(0, 32), key));
  }
};

TEST_F(HmiLogin, OperatorWrongKeyAndProgrammer) {
  int op = slots.open(4);
  EXPECT_EQ(login(op, "op", 0xCAFE), "hmi\n\r");
  EXPECT_EQ(priority[op], 1);
  EXPECT_EQ(priority_hi[op], 3);
  EXPECT_EQ(slots.ask(op, "stop"), "fail\n\r");  // programmer only

  // A wrong key answers the challenge wrongly: fail, closed 5 s later.
  int t = slots.open(5);
  EXPECT_EQ(login(t, "op", 0xBEEF), "fail\n\r");
  EXPECT_EQ(port_timeout[t], 5);
  EXPECT_EQ(priority[t], 255);
  for (int i = 0; i < 4; ++i) clients_second();
  EXPECT_EQ(port_close[t], 0);
  clients_second();
  EXPECT_EQ(port_close[t], 1);

  // The programmer's reply comes on the same connection, now held in slot 0;
  // the other sessions are closed.
  int s = slots.open(3);
  int fd = client_socket[s];
  EXPECT_EQ(login(s, "boss", 0x1234567u), "prog\n\r");
  EXPECT_EQ(client_socket[0], fd);
  EXPECT_EQ(quiblet_socket[0], fd);
  EXPECT_EQ(client_socket[s] + client_socket[op], 0);
  EXPECT_EQ(priority[0], 0);
  EXPECT_EQ(priority[s], 255);
}

TEST_F(HmiLogin, CipherMatchesTheClient) {
  u8 raw[16];
  for (int i = 0; i < 16; ++i) raw[i] = u8(i * 37);
  u32 a = 0x4C2B, b = 0x4C2B;
  for (int i = 0; i < 16; ++i) EXPECT_EQ(encrypt(raw[i], &a, 0x7D3A91E6u), quorclient::encrypt(raw[i], &b, 0x7D3A91E6u));
  std::string enc = nibble_encode(raw, 16);
  EXPECT_EQ(enc.substr(0, 4), "0025");  // 0x00, 0x25
  u8 back[16];
  EXPECT_EQ(nibble_decode(enc, back, 16), 16u);
  EXPECT_EQ(std::memcmp(raw, back, 16), 0);
  // Decoding keeps the low four bits of each character.
  EXPECT_EQ(nibble_decode("?\x7f", back, 16), 1u);
  EXPECT_EQ(back[0], 0xFF);
}

}  // namespace
