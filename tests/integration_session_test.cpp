// Logging in, the programmer's preemption of other sessions, and a
// programming session end to end on the real controller.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "tests/support/quor_process.h"

using quorclient::Connection;
using quorclient::Reply;

namespace {

class Session : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(q.start()); }
  std::vector<std::string> ask(Connection& c, const std::string& line) {
    Reply r;
    EXPECT_TRUE(c.command(line, r)) << line;
    return r.lines;
  }
  using L = std::vector<std::string>;
  QuorProcess q;
};

// "auth" answers the challenge of this connection's own "mvar", once.
TEST_F(Session, AnAnswerNeedsAFreshChallengeOfItsConnection) {
  const std::string zeros(32, '0');  // the answer to a never-issued challenge (key 0)
  Connection fresh = q.session();
  ASSERT_TRUE(fresh.is_open());
  EXPECT_EQ(ask(fresh, "auth|" + zeros), L{"fail"});

  Connection asker = q.session(), thief = q.session();
  Reply r;
  ASSERT_TRUE(asker.command("mvar|" + quorclient::encode_password(""), r));
  ASSERT_EQ(r.first().size(), 32u);
  const std::string answer = quorclient::answer_challenge(r.first(), 0);
  EXPECT_EQ(ask(thief, "auth|" + answer), L{"fail"});  // not its challenge
  EXPECT_EQ(ask(asker, "auth|" + zeros), L{"fail"});   // a wrong answer uses it up
  EXPECT_EQ(ask(asker, "auth|" + answer), L{"fail"});
  EXPECT_EQ(ask(asker, "users")[0], "none");
}

TEST_F(Session, ProgrammerPreemptsOtherSessions) {
  Connection op = q.session();
  Connection prog = q.session();
  ASSERT_TRUE(op.is_open() && prog.is_open());
  EXPECT_EQ(prog.login(""), "prog");  // the default programmer entry
  EXPECT_TRUE(op.wait_closed(2000));
  EXPECT_EQ(ask(prog, "users")[0], "prog");

  // A newcomer may ask "users"; anything else ends its connection.
  Connection late = q.session();
  ASSERT_TRUE(late.is_open());
  EXPECT_EQ(ask(late, "users")[0], "prog");
  EXPECT_EQ(late.login(""), "fail");
  late.send_line("status");
  EXPECT_TRUE(late.wait_closed(2000));
  EXPECT_EQ(ask(prog, "status"), L{"Run"});

  // Logging off restarts nothing that runs and frees the way for others.
  EXPECT_EQ(ask(prog, "logoff"), L{"OK"});
  EXPECT_TRUE(prog.wait_closed(2000));
  Connection next = q.session();
  EXPECT_EQ(ask(next, "users")[0], "none");
}

// Reply bytes exactly as they arrive for one command (one block). An
// "sconfig" never answers: it is followed by "term", and whatever arrives
// before the "sync" of that is returned.
std::string exact(Connection& c, const std::string& line) {
  std::string all, part;
  if (!c.send_line(line)) return "(send failed)";
  if (line.rfind("sconfig", 0) == 0) {
    std::string r = exact(c, "term");
    size_t at = r.rfind("sync\n\r");
    return at == std::string::npos ? "(no sync) " + r : r.substr(0, at);
  }
  while (all.find('\r') == std::string::npos && c.read_some(part, 3000) && !part.empty()) all += part;
  return all;
}

// A programmer session on a program with two modules of loop 1, an If
// block and a module in loop 2:
//   0 Loop_1  1 Tank  2 Fill  3 Drain  4 If go  5 Expression calc
//   6 EndIf  7 Loop_2  8 Mix  9 Loop_3  10 Loop_4  11 End
class Programming : public Session {
 protected:
  void SetUp() override {
    Session::SetUp();
    c = q.session();
    ASSERT_EQ(c.login(""), "prog");
    for (const char* line : {"start", "insert|Tank|0|0", "insert|Fill|12|0", "insert|Drain|12|0", "insert|go|21|1",
                             "insert|calc|20|1", "insert||23|0", "loop||2", "insert|Mix|0|0"})
      ASSERT_NE(exact(c, line), "fail\n\r") << line;
  }
  std::string x(const std::string& line) { return exact(c, line); }
  // Commands in order with the exact reply each must get ("*": any).
  void run(const std::vector<std::pair<std::string, std::string>>& steps) {
    for (const auto& [cmd, want] : steps) {
      std::string got = x(cmd);
      if (want != "*") {
        EXPECT_EQ(got, want) << cmd;
      }
    }
  }
  const std::string F = "fail\n\r", OK = "OK\n\r", ANY = "*";
  static std::string lines(std::initializer_list<const char*> ls) {
    std::string s;
    for (const char* l : ls) s += std::string(l) + "\n";
    return s + "\r";
  }
  Connection c;
  const std::string from_tank = "Module Tank\n  Timer Fill\n  Timer Drain\n If go\n  Expression calc\n EndIf \n";
  const std::string loop2_on = "Module Loop_2\nModule Mix\nModule Loop_3\nModule Loop_4\nModule End\n\r";
  const std::string whole = "Module Loop_1\n" + from_tank + loop2_on;
};

TEST_F(Programming, PagesSearchesAndWalks) {
  const std::string from_drain = "  Timer Drain\n If go\n  Expression calc\n EndIf \n" + loop2_on;
  run({{"start", whole}, {"refresh", whole}, {"loop||2", loop2_on}, {"apos||3", "  Timer Drain\n\r"},
       {"rapos", "3\n\r"}, {"refresh", from_drain}, {"apos||-1", F}, {"apos||0", "Module Loop_1\n\r"},
       {"inst||3", from_drain}, {"inst||-2", from_tank + loop2_on}, {"mod||1", loop2_on}, {"mod||-2", whole},
       {"inst||-5", whole},  // stops at the program start
       {"alist", whole},
       // Rows of the page: pos, posh, up, down, pgup, pgdn.
       {"apos||1", ANY}, {"refresh", ANY}, {"pos||3", "cur 3\n\r"}, {"name", "go\n\r"}, {"posh||1", OK},
       {"name", "Fill\n\r"}, {"pos||2", "cur 2\n\r"}, {"name", "Drain\n\r"}, {"posh||6", F},  // runs into Loop_2
       {"name", "Tank\n\r"}, {"up", "Module Loop_1\n\r"},
       {"down", F},      // the program is shorter than a page
       {"pgdn", whole},  // the last lines of the program
       {"pgup", whole},
       // Searches by variable, description and type.
       {"apos||3", ANY}, {"sconfig|level|0|0|263|0|0", ""}, {"start", ANY}, {"varp|lev", from_drain},
       {"varp|-Tank", from_tank + loop2_on}, {"rapos", "1\n\r"}, {"varp|lev|1", F},  // descriptions only
       {"varp|go|1", " If go\n  Expression calc\n EndIf \n" + loop2_on}, {"ipos||23", " EndIf \n" + loop2_on},
       {"ipos||-13", from_drain}, {"ipos||30", from_drain}});

  // Walks over a loop and the program, each ended by "fail" with the
  // cursor back where it was; the End line is not sent.
  auto walk = [&](const char* start, int want, const char* last_want) {
    EXPECT_EQ(x(start), "Module Loop_1\n\r");
    int n = 0;
    std::string last;
    for (std::string r; (r = x("lnxt")) != F && n < 20; ++n) last = r;
    EXPECT_EQ(n, want) << start;
    EXPECT_EQ(last, last_want) << start;
  };
  x("apos||2");
  walk("llt", 6, " EndIf \n\r");
  walk("lpt", 10, "Module Loop_4\n\r");
  EXPECT_EQ(x("lnxt"), F);
  EXPECT_EQ(x("rapos"), "2\n\r");
}

TEST_F(Programming, EditingEndToEnd) {
  const std::string tail = "Module Loop_2\nModule Mix\n  Timer Warm\nModule Loop_3\nModule Loop_4\nModule End\n\r";
  const std::string moved = "Module Loop_1\nModule Tank\n If go\n  Expression calc\n EndIf \n  Timer Fill\n"
                            "  Timer Drain\nModule Loop_2\nModule Mix\n";
  run({{"insert|Heat|12|0", "  Timer Heat\nModule Loop_3\nModule Loop_4\nModule End\n\r"},  // after Mix
       {"insert|bad|33|0", F}, {"name", "Heat\n\r"}, {"ren|Warm", OK}, {"name", "Warm\n\r"},
       {"ren|Warm|1", F},  // no current screen object
       {"name||1", F}, {"apos||6", ANY}, {"name", "none\n\r"}, {"apos||0", ANY},
       {"ren|Loop_9", F},  // the loop modules keep their names
       // Mark Fill..Drain, copy it after EndIf, move it back after Mix, delete.
       {"blockc", "None\nNone\n\r"}, {"apos||2", ANY}, {"blocks", OK}, {"apos||3", ANY}, {"blocke", OK},
       {"blockc", "Timer Fill\nTimer Drain\n\r"}, {"apos||6", ANY},
       {"copy", " EndIf \n  Timer Fill\n  Timer Drain\n" + tail}, {"start", ANY},
       {"alist", "Module Loop_1\n" + from_tank + "  Timer Fill\n  Timer Drain\n" + tail}, {"copy|x|1", F},
       {"move|x|1", F}, {"apos||10", ANY},  // Mix
       {"move", "Module Mix\n  Timer Fill\n  Timer Drain\n  Timer Warm\nModule Loop_3\nModule Loop_4\nModule End\n\r"},
       {"start", ANY},
       {"alist", moved + "  Timer Fill\n  Timer Drain\n  Timer Warm\nModule Loop_3\nModule Loop_4\nModule End\n\r"},
       {"del", F},  // a move clears the block
       {"apos||9", ANY}, {"blocks", OK}, {"apos||10", ANY}, {"blocke", OK},
       {"del", "Module Mix\n  Timer Warm\nModule Loop_3\nModule Loop_4\nModule End\n\r"},
       {"blockc", "None\nNone\n\r"}, {"start", ANY}, {"alist", moved + "  Timer Warm\nModule Loop_3\nModule Loop_4\nModule End\n\r"},
       // Variables: renamed within the scope of the cursor.
       {"apos||5", ANY}, {"sconfig|level|0|0|263|0|0", ""}, {"varen|level~height", OK}, {"mivar|height", "0\n\r"},
       {"mivar|level", F}, {"varen|nothing~else", F},
       // Save, list and import modules of a file, load it again.
       {"save|plant.qrn", OK}});
  EXPECT_TRUE(q.exists("plant.qrn"));
  const std::string modules = "Loop_1\nTank\nLoop_2\nMix\nLoop_3\nLoop_4\n\r";
  run({{"extract|plant.qrn", modules},
       {"new", "Module Loop_1\nModule Loop_2\nModule Loop_3\nModule Loop_4\nModule End\n\r"},
       {"extract|plant.qrn|0", modules}, {"extract|plant.qrn|2", F},  // Loop_2 is not imported
       {"loop||2", ANY},
       {"extract|plant.qrn|3", "  Timer Warm\nModule Loop_3\nModule Loop_4\nModule End\n\r"}, {"start", ANY},
       {"alist", "Module Loop_1\n" + tail}});
  EXPECT_EQ(x("load|plant.qrn").substr(0, 26), "Module Loop_1\nModule Tank\n");
  run({{"start", ANY}, {"alist", moved + "  Timer Warm\nModule Loop_3\nModule Loop_4\nModule End\n\r"},
       {"load|missing.qrn", F}});
  // Names outside the working directory are refused.
  q.write("../" + std::filesystem::path(q.dir()).filename().string() + "_out.qrn", q.read("plant.qrn"));
  const std::string outside = "../" + std::filesystem::path(q.dir()).filename().string() + "_out.qrn";
  for (const std::string cmd : {"save|", "load|", "extract|", "save|/tmp/", "load|sub/../"})
    EXPECT_EQ(x(cmd + (cmd.back() == '/' ? "x.qrn" : outside)), "fail\n\r") << cmd;
  std::filesystem::remove(q.path(outside));
  EXPECT_EQ(x("save"), "OK\n\r");
  EXPECT_TRUE(q.exists("quor.qrn"));
}

TEST_F(Programming, VariablesAndParameters) {
  using quorclient::float_to_wire;
  run({{"apos||2", ANY},  // Fill, a Timer
       {"num", "12\n\r"}, {"num||1", F}, {"lconfig", "5\n0\n0\n\r"},
       {"gquorfig", "Control}Time}Time offset}Time interval}Type~Up counter~Down counter\n\r"},
       {"gconfig||0|0", "Null|263\nNull|263\n0|2\n0|2\n0|5\n\r"}, {"gconfig||0|1", F},  // no repeated groups
       {"gconfig||1|0", F}, {"gconfig||2|0", F}, {"gconfig||3|0", F}, {"livar", F},
       {"sconfig|big[500]|0|0|263|0|0", ""},  // never answers
       {"sconfig|run|0|0|263|0|1", ""}, {"sconfig||0|" + float_to_wire(2.5f) + "|2|0|2", ""},
       {"sconfig||0|7|0|0|2", ""},  // the wrong type: refused silently
       {"gconfig||0|0", "big[500]|263\nrun|263\n" + float_to_wire(2.5f) + "|2\n0|2\n0|5\n\r"},
       {"resize||0|3", F}});  // a Timer has no size

  // Cells by name: the highest index bounds "rvar" blocks; system cells
  // are the "!System" variable.
  const std::string w = float_to_wire(-1.25f), one = float_to_wire(1.0f), four = float_to_wire(4.0f);
  run({{"svar|big[10]|" + w, OK}, {"svar|run|" + one, OK}, {"rvar|big[10]", w + "\n\r"},
       {"livar", "big[500]|" + float_to_wire(0.0f) + "\nrun|" + one + "\n\r"},
       {"ssys||24|1|" + float_to_wire(3.0f) + "|" + four, OK},
       {"rsys||24|1", float_to_wire(3.0f) + "\n" + four + "\n\r"}, {"rvar|!System[25]", four + "\n\r"}});
  Reply r;
  ASSERT_TRUE(c.command("rvar|big[450]|1", r));
  EXPECT_EQ(r.lines.size(), 51u);
  EXPECT_NE(x("rsys||11775|0"), F);  // the last system cell

  // The general configuration page of entries, and the site name.
  run({{"gpos||0", OK}, {"gconfig||4|1", "none|264\n0|3\n255|3\n0|7\nnone|264\n255|3\n255|3\n0|7\n\r"},
       {"sconfig|Pump house|4|0|264|0|6", ""}, {"users", "prog\nVersion 0.946\nPump house\n\r"},
       {"sconfig|Null|4|0|264|0|6", ""}, {"sname", "no name\n\r"}});
}

TEST_F(Programming, RunStopStepAndBreakPoint) {
  run({{"stop", "Stop\n\r"}, {"start", ANY}, {"step", "cur 1\n\r"}, {"name", "Tank\n\r"},
       {"step", "cur 2\n\r"}, {"step", "cur 3\n\r"}, {"step", "cur 4\n\r"},  // onto the If
       {"name", "go\n\r"}, {"apos||5", ANY},
       {"step", "refresh\n EndIf \n" + loop2_on},  // an EndIf starts a fresh page
       {"step", "cur 1\n\r"}, {"cont", OK}, {"status", "Run\n\r"},
       {"gpos||0", ANY}, {"sconfig||4|20|3|0|1", ANY},  // loop 1 every 20 ms
       {"apos||3", ANY}, {"sbreak", "Timer Drain\n\r"}});

  // The break point halts the scan there and the cursor follows it.
  std::string st;
  for (int i = 0; i < 200 && (st = x("status")) != "Stop\n\r"; ++i) usleep(10000);
  EXPECT_EQ(st, "Stop\n\r");
  run({{"rapos", "3\n\r"}, {"cbreak", "None\n\r"}, {"cont", OK}, {"status", "Run\n\r"},
       {"sdate||1000", OK}});  // and the clock
  std::string d = x("rdate");
  EXPECT_TRUE(d == "1000\n\r" || d == "1001\n\r") << d;
}

// An operator entry: level 1 to 3 with its own key. Level 1 may set the
// clock and read system cells; programmer commands fail.
TEST_F(Programming, OperatorLevels) {
  for (const char* line : {"gpos||0", "sconfig|op|4|0|264|2|0", "sconfig||4|1|3|2|1", "sconfig||4|3|3|2|2",
                           "sconfig||4|4660|7|2|3"})
    x(line);
  EXPECT_EQ(x("gconfig||4|1"), "none|264\n0|3\n255|3\n0|7\nop|264\n1|3\n3|3\n4660|7\n\r");
  EXPECT_EQ(x("logoff"), "OK\n\r");
  ASSERT_TRUE(c.wait_closed(2000));

  Connection op = q.session();
  ASSERT_EQ(op.login("op", 4660), "hmi");
  EXPECT_EQ(exact(op, "sdate||5000"), "OK\n\r");
  EXPECT_NE(exact(op, "rsys||24|0"), "fail\n\r");
  for (const char* line : {"stop", "insert|x|12|0", "del", "save", "step", "new", "resize||0|3"})
    EXPECT_EQ(exact(op, line), "fail\n\r") << line;
  EXPECT_EQ(exact(op, "sconfig|Other|4|0|264|0|6"), "");
  EXPECT_EQ(exact(op, "sname"), "no name\n\r");
  EXPECT_EQ(exact(op, "gconfig||4|0").substr(0, 9), "none|264\n");  // reading is allowed
  // A second operator session in another slot.
  Connection op2 = q.session();
  EXPECT_EQ(exact(op2, "alive"), "fail\n\r");  // not logged in
  EXPECT_EQ(exact(op2, "sdate||1"), "fail\n\r");
  EXPECT_EQ(exact(op2, "status"), "Run\n\r");
}

}  // namespace
