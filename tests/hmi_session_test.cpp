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
  EXPECT_EQ(parsed("pos||7").n[0], 7u);
  EXPECT_EQ(parsed("pos|x|7").n[0], 7u);
  EXPECT_EQ(parsed("pos|x|7").text, "x");
  EXPECT_EQ(parsed("pos").n[0], 0u);
  EXPECT_EQ(parsed("loop||-1").si(0), -1);
  EXPECT_EQ(parsed("loop||-0x10").si(0), -16);
  EXPECT_EQ(parsed("x||0x10").n[0], 0u);  // unsigned fields are decimal
  EXPECT_EQ(parsed("x||4294967295").n[0], 4294967295u);
  HmiCommand e = parsed("x||1||3");
  EXPECT_EQ(e.n[0], 1u);
  EXPECT_EQ(e.n[1], 0u);
  EXPECT_EQ(e.n[2], 3u);

  HmiCommand t = parsed("varen|a~b");
  EXPECT_EQ(t.text, "a");
  EXPECT_EQ(t.text2, "b");
  EXPECT_EQ(parsed("varen|tank").text2, "tank");
  EXPECT_EQ(parsed("x|a~b~c").text2, "c");
  EXPECT_EQ(parsed("x|{a~b}").text, "{a~b}");

  std::string many = "x|";
  for (int i = 1; i <= 25; ++i) many += "|" + std::to_string(i);
  HmiCommand m = parsed(many);
  EXPECT_EQ(m.n[17], 18u);

  HmiCommand c;
  EXPECT_TRUE(parse_HMI("abcdefghijk", c));
  EXPECT_FALSE(parse_HMI("abcdefghijkl", c));
  EXPECT_FALSE(parse_HMI("abcdefghijkl|x", c));

  // The text field stops at position 4000; the numbers after it still count.
  HmiCommand big = parsed("x|" + std::string(5000, 'a') + "|9");
  EXPECT_EQ(big.text.size(), HMI_TEXT_LIMIT - 2);
  EXPECT_EQ(big.n[0], 9u);
}

TEST(HmiDispatch, TableHoldsEveryKeywordOnce) {
  auto table = command_table();
  EXPECT_EQ(table.size(), 100u);
  std::set<std::string> seen;
  for (const auto& e : table) {
    EXPECT_TRUE(seen.insert(e.keyword).second) << e.keyword;
    EXPECT_EQ(find_command(e.keyword), &e);
    EXPECT_NE(e.run, nullptr);
  }
  EXPECT_EQ(std::string(table.front().keyword), "rsys");
  EXPECT_EQ(std::string(table.back().keyword), "sname");
}

class HmiSession : public ProgramTest {
 protected:
  HmiSlots slots;
};

TEST_F(HmiSession, FramingAndSimpleReplies) {
  int s = slots.open(2);
  EXPECT_EQ(slots.ask(s, ""), "fail\n\r");
  EXPECT_EQ(slots.ask(s, "nosuchcmd"), "fail\n\r");
  EXPECT_EQ(slots.ask(s, "term"), "sync\n\r");
  EXPECT_EQ(slots.ask(s, "flush"), "eob\n\r");
  EXPECT_EQ(slots.ask(s, "status"), "Stop\n\r");
  EXPECT_EQ(slots.ask(s, "users"), "none\nVersion 0.946\nNo name\n\r");
  EXPECT_EQ(slots.ask(s, "sname"), "no name\n\r");
  EXPECT_EQ(slots.ask(s, "alive"), "fail\n\r");  // not logged in
  EXPECT_EQ(slots.ask(s, "rsys||0|1"), "fail\n\r");
  EXPECT_EQ(slots.ask(s, "sconfig||4|5|3|0|1"), "");  // never answers

  std::string init = slots.ask(s, "init");
  int blocks = 0;
  for (char ch : init) blocks += ch == '\r';
  EXPECT_EQ(blocks, 5);
  EXPECT_NE(init.find("Module|none\nConvert|Enter number of cal pairs (2-20)\n"), std::string::npos);
  EXPECT_NE(init.find("\rFrame|none\n"), std::string::npos);
  EXPECT_NE(init.find("Graph_bins/events|none\n\r"), std::string::npos);
  EXPECT_NE(init.find("\r50\nnone\n1000\n10\nNone\nno name\n0\n\r"), std::string::npos);

  // A slot without a session receives nothing, but the command acts.
  quiblet_socket[s] = 0;
  EXPECT_EQ(slots.ask(s, "gpos||3"), "");
  EXPECT_EQ(gen_sel, 3);
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

TEST_F(HmiLogin, OperatorAndWrongAnswers) {
  int s = slots.open(4);
  EXPECT_EQ(login(s, "op", 0xCAFE), "hmi\n\r");
  EXPECT_EQ(priority[s], 1);
  EXPECT_EQ(priority_hi[s], 3);
  EXPECT_EQ(slots.ask(s, "users"), "hmi\nVersion 0.946\nNo name\n\r");
  EXPECT_EQ(slots.ask(s, "alive"), "OK\n\r");
  EXPECT_EQ(slots.ask(s, "rsys||0|0").back(), '\r');
  EXPECT_EQ(slots.ask(s, "stop"), "fail\n\r");  // programmer only

  // A wrong key answers the challenge wrongly: fail, closed 5 s later.
  int t = slots.open(5);
  EXPECT_EQ(login(t, "op", 0xBEEF), "fail\n\r");
  EXPECT_EQ(port_timeout[t], 5);
  EXPECT_EQ(priority[t], 255);
  for (int i = 0; i < 4; ++i) clients_second();
  EXPECT_EQ(port_close[t], 0);
  clients_second();
  EXPECT_EQ(port_close[t], 1);

  int u = slots.open(6);
  EXPECT_EQ(slots.ask(u, "mvar|" + quorclient::encode_password("nobody")), "fail\n\r");
  EXPECT_EQ(port_timeout[u], 5);

  // Challenges in the same clock second differ: knowing the clock does not
  // tell the next one.
  int v = slots.open(7), w = slots.open(8);
  const std::string ask = "mvar|" + quorclient::encode_password("op");
  EXPECT_NE(slots.ask(v, ask), slots.ask(w, ask));
}

TEST_F(HmiLogin, ProgrammerMovesToSlotZeroAndClosesOthers) {
  int other = slots.open(1);
  int s = slots.open(3);
  int fd = client_socket[s];
  // The reply comes on the same connection, now held in slot 0.
  EXPECT_EQ(login(s, "boss", 0x1234567u), "prog\n\r");
  EXPECT_EQ(client_socket[0], fd);
  EXPECT_EQ(quiblet_socket[0], fd);
  EXPECT_EQ(client_socket[3], 0);
  EXPECT_EQ(client_socket[other], 0);
  EXPECT_EQ(priority[0], 0);
  EXPECT_EQ(priority[3], 255);
  // While a programmer holds slot 0, nobody else logs in.
  int late = slots.open(7);
  EXPECT_EQ(slots.ask(late, "mvar|" + quorclient::encode_password("op")), "fail\n\r");
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
