// The history and file commands through proc_HMI with exact reply bytes,
// and a history file served by the real controller.
#include <bit>
#include <fstream>

#include "core/config.h"
#include "net/user_port.h"
#include "tests/support/hist_fixture.h"
#include "tests/support/reply_script.h"
#include "tests/support/quor_process.h"

namespace {

std::string bits(float v) { return std::to_string(std::bit_cast<i32>(v)); }

class HistCommands : public HistTest {
 protected:
  void SetUp() override {
    HistTest::SetUp();
    s = slots.open(0);
    priority[0] = 1;  // an operator of level 1 may change files
  }
  void TearDown() override {
    priority[0] = priority_hi[0] = 255;
    HistTest::TearDown();
  }
  std::string ask(const std::string& line) { return slots.ask(s, line); }
  void script(ReplyScript steps) { expect_replies(slots, s, steps); }
  // Runs a reply produced in steps to its end.
  std::string finish(std::string got) {
    for (int i = 0; i < 100000 && slot_producing(s); ++i) {
      produce_replies();
      got += slots.take(s);
    }
    return got + slots.take(s);
  }
  HmiSlots slots;
  int s = 0;
};

TEST_F(HistCommands, StatusHeadersAndSearches) {
  gen_sel = 3;
  ASSERT_EQ(gen_resize(3), ~0u);
  per_ptr[0][1].status = 255;
  per_ptr[0][2].status = 2;
  per_interval[0] = 60;
  ASSERT_TRUE(make(HistKind::Periodic, 0, 3, 100));
  const float v[3] = {1, 2, 3};
  for (unsigned i = 0; i < 5; ++i) ASSERT_TRUE(write_periodic(0, v, 3, 1000 + 60 * i));
  script({{"sper||0", "3|100|4|1000|1240|60|0|0\n\r"}, {"hper||0", "0|b1|0\n1|b2|32767\n2|b3|2\n\r"},
          {"tper||0|1130", "3\n\r"}, {"tper||0|5", "0\n\r"}});
  for (const char* bad : {"sper||1", "sper||4", "hper||9", "tper||1|5", "sevt||0", "tevt||0|5", "devt||0",
                          "pevt||7", "dper||4"})
    EXPECT_EQ(ask(bad), "fail\n\r") << bad;

  ASSERT_TRUE(make(HistKind::Event, 2, 2, 100));
  script({{"sevt||2", "2|100|99|0|0|0|0\n\r"}, {"hevt||2", "0|b1\n1|b2\n\r"}});  // never written
  for (unsigned t : {500u, 600u, 600u}) ASSERT_TRUE(write_event(2, t, 1.5f, 1, 7));
  script({{"sevt||2", "2|100|2|500|600|0|0\n\r"}, {"tevt||2|600|0", "1\n\r"}, {"tevt||2|600|1", "2\n\r"},
          {"tevt||2|601|1", "2\n\r"}});  // not found: the newest
}

TEST_F(HistCommands, RecordLists) {
  ASSERT_TRUE(make(HistKind::Periodic, 1, 3, 100));
  // 104 records: the ring wrapped and the newest is slot 3.
  for (unsigned i = 0; i < 104; ++i) {
    const float v[3] = {float(i), float(-int(i)), 0.5f};
    ASSERT_TRUE(write_periodic(1, v, 3, 10000 + i));
  }
  auto line = [](unsigned slot, unsigned i) {
    return std::to_string(slot) + "|" + std::to_string(10000 + i) + "|" + bits(float(i)) + "|" +
           bits(float(-int(i))) + "|" + bits(0.5f) + "\n";
  };
  std::string want;
  for (unsigned k = 0; k < 10; ++k) {
    unsigned slot = (94 + k) % 100;
    want += line(slot, slot < 4 ? 100 + slot : slot);
  }
  port_timeout[s] = 3;
  EXPECT_EQ(ask("dper||1|0|10"), want + "\r");
  EXPECT_EQ(port_timeout[s].load(), 120);
  EXPECT_EQ(ask("dper||1|2|2|98|3"), line(98, 98) + line(1, 101) + "\r");  // step 3 wraps
  EXPECT_EQ(ask("dper||1|1|1"), line(4, 4) + "\r");                       // mode 1: the oldest
  // Chosen bins: the third, then 0 and 9 both mean the first.
  EXPECT_EQ(ask("dper||1|2|1|5|0|3|0|9"),
            "5|10005|" + bits(0.5f) + "|" + bits(5.0f) + "|" + bits(5.0f) + "\n\r");
  for (const char* bad : {"dper||1|0|11|0|10", "dper||1|2|1|100", "dper||1|3|1"})
    EXPECT_EQ(ask(bad), "fail\n\r") << bad;

  // Events: a full file read forward from the oldest, wrapping to slot 0.
  ASSERT_TRUE(make(HistKind::Event, 0, 4, 100));
  EXPECT_EQ(ask("pevt||0|0|1|2|0|3|4"), "-1|0|0|0|1\n-1|0|0|0|2\n-1|0|0|0|0\n-1|0|0|0|3\n-1|0|0|0|4\n\r");
  const u32 day = 86400 * 300;
  for (unsigned i = 0; i < 102; ++i) ASSERT_TRUE(write_event(0, day - 50 + i, float(i), 1, u16(1 + i % 3)));
  auto ev = [&](unsigned slot, unsigned i) {
    return std::to_string(slot) + "|" + std::to_string(day - 50 + i) + "|" + bits(float(i)) + "|" + bits(1.0f) +
           "|" + std::to_string(1 + i % 3) + "\n";
  };
  EXPECT_EQ(ask("devt||0|1|3"), ev(2, 2) + ev(3, 3) + ev(4, 4) + "\r");
  EXPECT_EQ(ask("devt||0|2|2|99"), ev(99, 99) + ev(0, 100) + "\r");
  // The latest of kinds 2, 1 and 9 on the day of slot 1 (record 101, kind 3):
  // back through slot 0 (100, kind 2) to slot 99 (99, kind 1). Kind 9 was
  // not seen; records of the day before end the search.
  EXPECT_EQ(ask("pevt||0|1|2|1|9"), ev(0, 100) + ev(99, 99) + "-1|0|0|0|9\n-1|0|0|0|0\n-1|0|0|0|0\n\r");
}

TEST_F(HistCommands, FileCommands) {
  std::ofstream("a.txt") << "12345";
  EXPECT_EQ(ask("flen|a.txt").substr(0, 2), "5|");
  for (const char* bad : {"flen|../a.txt", "fcopy|a.txt~a.txt", "fcopy|none~b.txt", "fcopy|a.txt~../b.txt"})
    EXPECT_EQ(ask(bad), "fail\n\r") << bad;
  EXPECT_EQ(ask("flen|none"), "0|0\n\r");
  EXPECT_FALSE(std::filesystem::exists("b.txt"));  // nothing emptied or made
  std::ofstream("b.txt") << "old contents";
  script({{"fcopy|a.txt~./a.txt", "fail\n\r"},  // the same file by another name
          {"fcopy|a.txt~b.txt", "OK\n\r"}});
  EXPECT_EQ(RawHist("b.txt").b.size(), 5u);
  // A large copy goes in steps and lands whole.
  std::string big(3 << 20, 'q');
  big[12345] = 'x';
  std::ofstream("big") << big;
  EXPECT_EQ(ask("fcopy|big~big2"), "");
  EXPECT_EQ(finish(""), "OK\n\r");
  EXPECT_EQ(RawHist("big2").b, std::vector<unsigned char>(big.begin(), big.end()));

  script({{"fren|b.txt~c.txt", "OK\n\r"}, {"fren|c.txt~../c.txt", "OK\n\r"}});  // the second refused quietly
  EXPECT_TRUE(std::filesystem::exists("c.txt"));
  script({{"fdel|c.txt", "OK\n\r"}, {"fdel|c.txt", "OK\n\r"}});
  EXPECT_FALSE(std::filesystem::exists("c.txt"));
  std::string dir = ask("fdir");
  EXPECT_NE(("\n" + dir).find("\nbig2\n"), std::string::npos);
  EXPECT_EQ(dir.back(), '\r');
  fake.free_kib = 5000000000ULL;  // 5 TB free: no 32-bit wrap
  EXPECT_EQ(ask("gdisk"), "5000000000\n\r");
  priority[0] = 2;  // changing files needs level 1 or better
  EXPECT_EQ(ask("fdel|a.txt"), "fail\n\r");
  EXPECT_TRUE(std::filesystem::exists("a.txt"));
}

// The real controller serves a history file with GET byte for byte, and
// answers the history commands from the file as it stands on disk.
TEST(HistoryEndToEnd, DownloadAndCommands) {
  QuorProcess q;
  auto old = std::filesystem::current_path();
  std::filesystem::current_path(q.dir());
  hist_par p{.file = 1, .records = 150, .n = 2};
  std::strcpy(p.names[0], "level");
  ASSERT_TRUE(new_periodic(&p));
  const float v[2] = {3.25f, -1};
  for (unsigned i = 0; i < 160; ++i) ASSERT_TRUE(write_periodic(1, v, 2, 7000 + 10 * i));
  p.n = 1024;  // a file whose list takes many steps
  p.file = 2;
  p.records = 200;
  ASSERT_TRUE(new_periodic(&p));
  std::vector<float> wide(1024, 1.0f);
  for (unsigned i = 0; i < 200; ++i) ASSERT_TRUE(write_periodic(2, wide.data(), 1024, 9000 + i));
  std::filesystem::current_path(old);
  const std::string disk = q.read("quor2.per");

  ASSERT_TRUE(q.start());
  std::string body;
  ASSERT_EQ(quorclient::download("127.0.0.1", q.port(), "quor2.per", &body), 200);
  EXPECT_EQ(body, disk);
  auto c = q.session();
  quorclient::Reply r;
  ASSERT_TRUE(c.command("sper||1", r));
  EXPECT_EQ(r.first(), "2|150|9|7100|8590|0|10|0");
  // A line sent behind a long reply waits for it.
  ASSERT_TRUE(c.send_raw("dper||2|0|200\rsper||1\r"));
  quorclient::Reply list, after;
  ASSERT_TRUE(c.read_block(list));
  ASSERT_TRUE(c.read_block(after));
  EXPECT_EQ(list.lines.size(), 200u);
  EXPECT_EQ(after.first(), "2|150|9|7100|8590|0|10|0");

  // quorctl: records as CSV, the status, and the file commands.
  auto run = [&](const std::string& args, std::string* out = nullptr) { return run_quorctl(q.port(), args, out); };
  std::string out;
  const std::pair<const char*, const char*> csv[] = {
      {"history per 2 --last 2",
       "slot,time,date,level,\n8,8580,2000-01-01 02:23:00,3.25,-1\n9,8590,2000-01-01 02:23:10,3.25,-1\n"},
      {"history per 2 --from 2000-01-01T02:23:05", "slot,time,date,level,\n9,8590,2000-01-01 02:23:10,3.25,-1\n"},
  };
  for (const auto& [args, want] : csv) {
    EXPECT_EQ(run(args, &out), 0) << args;
    EXPECT_EQ(out, want) << args;
  }
  EXPECT_EQ(run("history per 2", &out), 0);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 151);
  EXPECT_EQ(out.substr(out.find('\n') + 1, 5), "10,71");  // the oldest first
  EXPECT_EQ(run("hstatus per 2", &out), 0);
  EXPECT_EQ(out.substr(0, 25), "bins=2\nrecords=150\nnewest");
  EXPECT_EQ(run("history per 4"), 1);  // no such file
  EXPECT_EQ(run("history per 5"), 2);
  EXPECT_EQ(run("fcopy quor2.per keep.per"), 0);
  EXPECT_EQ(q.read("keep.per"), disk);
  EXPECT_EQ(run("flen keep.per", &out), 0);
  EXPECT_EQ(out.substr(0, out.find(' ')), std::to_string(disk.size()));
  EXPECT_EQ(run("fdel keep.per"), 0);
  EXPECT_FALSE(q.exists("keep.per"));
  EXPECT_EQ(run("disk", &out), 0);
  EXPECT_GT(std::stoull(out), 0u);
}

}  // namespace
