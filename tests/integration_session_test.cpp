// Logging in, the programmer's preemption of other sessions, and a
// programming session end to end on the real controller.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
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

TEST_F(Session, FailedLoginEndsTheSessionFiveSecondsLater) {
  Connection c = q.session();
  ASSERT_TRUE(c.is_open());
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(c.login("wrong"), "fail");
  EXPECT_EQ(ask(c, "term"), L{"sync"});  // still open for now
  EXPECT_TRUE(c.wait_closed(8000));
  auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(waited, std::chrono::seconds(3));
  EXPECT_LE(waited, std::chrono::seconds(7));
}

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

TEST_F(Programming, PagesAndCursorMoves) {
  EXPECT_EQ(x("start"), whole);
  EXPECT_EQ(x("refresh"), whole);
  EXPECT_EQ(x("loop||2"), loop2_on);
  EXPECT_EQ(x("loop||0"), "fail\n\r");
  EXPECT_EQ(x("loop||5"), "fail\n\r");
  EXPECT_EQ(x("apos||3"), "  Timer Drain\n\r");
  EXPECT_EQ(x("rapos"), "3\n\r");
  EXPECT_EQ(x("refresh"), "  Timer Drain\n If go\n  Expression calc\n EndIf \n" + loop2_on);
  EXPECT_EQ(x("apos||12"), "fail\n\r");
  EXPECT_EQ(x("apos||-1"), "fail\n\r");
  EXPECT_EQ(x("apos||0"), "Module Loop_1\n\r");
  EXPECT_EQ(x("inst||3"), "  Timer Drain\n If go\n  Expression calc\n EndIf \n" + loop2_on);
  EXPECT_EQ(x("inst||-2"), from_tank + loop2_on);
  EXPECT_EQ(x("mod||1"), loop2_on);
  EXPECT_EQ(x("mod||-2"), whole);
  EXPECT_EQ(x("inst||-5"), whole);  // stops at the program start
  EXPECT_EQ(x("alist"), whole);

  // Rows of the page: pos, posh, up, down, pgup, pgdn.
  x("apos||1");
  x("refresh");
  EXPECT_EQ(x("pos||3"), "cur 3\n\r");
  EXPECT_EQ(x("name"), "go\n\r");
  EXPECT_EQ(x("pos||50"), "fail\n\r");
  EXPECT_EQ(x("posh||1"), "OK\n\r");
  EXPECT_EQ(x("name"), "Fill\n\r");
  EXPECT_EQ(x("pos||2"), "cur 2\n\r");
  EXPECT_EQ(x("name"), "Drain\n\r");
  EXPECT_EQ(x("posh||6"), "fail\n\r");  // runs into Loop_2
  EXPECT_EQ(x("name"), "Tank\n\r");
  EXPECT_EQ(x("up"), "Module Loop_1\n\r");
  EXPECT_EQ(x("up"), "fail\n\r");
  EXPECT_EQ(x("down"), "fail\n\r");  // the program is shorter than a page
  EXPECT_EQ(x("pgdn"), whole);       // the last lines of the program
  EXPECT_EQ(x("pgup"), whole);
}

TEST_F(Programming, SearchesAndWalks) {
  x("apos||3");
  EXPECT_EQ(x("sconfig|level|0|0|263|0|0"), "");
  x("start");
  EXPECT_EQ(x("varp|lev"), "  Timer Drain\n If go\n  Expression calc\n EndIf \n" + loop2_on);
  EXPECT_EQ(x("varp|-Tank"), from_tank + loop2_on);
  EXPECT_EQ(x("varp|-Tank"), "fail\n\r");  // never the cursor itself
  EXPECT_EQ(x("rapos"), "1\n\r");
  EXPECT_EQ(x("varp|lev|1"), "fail\n\r");  // descriptions only
  EXPECT_EQ(x("varp|go|1"), " If go\n  Expression calc\n EndIf \n" + loop2_on);
  EXPECT_EQ(x("ipos||23"), " EndIf \n" + loop2_on);
  EXPECT_EQ(x("ipos||-13"), "  Timer Drain\n If go\n  Expression calc\n EndIf \n" + loop2_on);
  EXPECT_EQ(x("ipos||30"), "  Timer Drain\n If go\n  Expression calc\n EndIf \n" + loop2_on);

  // Walks over a module, a loop and the program, each ended by "fail"
  // with the cursor back where it was.
  x("apos||2");
  EXPECT_EQ(x("lmt"), "Module Tank\n\r");
  std::string walked;
  for (int i = 0; i < 5; ++i) walked += x("lnxt");
  EXPECT_EQ(walked, "  Timer Fill\n\r  Timer Drain\n\r If go\n\r  Expression calc\n\r EndIf \n\r");
  EXPECT_EQ(x("lnxt"), "fail\n\r");
  EXPECT_EQ(x("rapos"), "2\n\r");
  EXPECT_EQ(x("llt"), "Module Loop_1\n\r");
  int n = 0;
  while (x("lnxt") != "fail\n\r" && n < 20) ++n;
  EXPECT_EQ(n, 6);  // Tank .. EndIf
  EXPECT_EQ(x("lpt"), "Module Loop_1\n\r");
  n = 0;
  std::string last;
  for (std::string r; (r = x("lnxt")) != "fail\n\r" && n < 20; ++n) last = r;
  EXPECT_EQ(n, 10);  // up to Loop_4; the End line is not sent
  EXPECT_EQ(last, "Module Loop_4\n\r");
  EXPECT_EQ(x("lnxt"), "fail\n\r");
  EXPECT_EQ(x("rapos"), "2\n\r");
}

TEST_F(Programming, EditingEndToEnd) {
  EXPECT_EQ(x("insert|Heat|12|0"), "  Timer Heat\nModule Loop_3\nModule Loop_4\nModule End\n\r");  // after Mix
  EXPECT_EQ(x("insert|bad|33|0"), "fail\n\r");
  EXPECT_EQ(x("name"), "Heat\n\r");
  EXPECT_EQ(x("ren|Warm"), "OK\n\r");
  EXPECT_EQ(x("name"), "Warm\n\r");
  EXPECT_EQ(x("ren|Warm|1"), "fail\n\r");  // no current screen object
  EXPECT_EQ(x("name||1"), "fail\n\r");
  x("apos||6");
  EXPECT_EQ(x("name"), "none\n\r");
  x("apos||0");
  EXPECT_EQ(x("ren|Loop_9"), "fail\n\r");  // the loop modules keep their names

  // Mark Fill..Drain, copy it after EndIf, move it back after Mix, delete.
  EXPECT_EQ(x("blockc"), "None\nNone\n\r");
  x("apos||2");
  EXPECT_EQ(x("blocks"), "OK\n\r");
  x("apos||3");
  EXPECT_EQ(x("blocke"), "OK\n\r");
  EXPECT_EQ(x("blockc"), "Timer Fill\nTimer Drain\n\r");
  x("apos||6");
  const std::string tail = "Module Loop_2\nModule Mix\n  Timer Warm\nModule Loop_3\nModule Loop_4\nModule End\n\r";
  EXPECT_EQ(x("copy"), " EndIf \n  Timer Fill\n  Timer Drain\n" + tail);
  x("start");
  EXPECT_EQ(x("alist"), "Module Loop_1\n" + from_tank + "  Timer Fill\n  Timer Drain\n" + tail);
  EXPECT_EQ(x("copy|x|1"), "fail\n\r");
  EXPECT_EQ(x("move|x|1"), "fail\n\r");
  x("apos||10");  // Mix
  EXPECT_EQ(x("move"), "Module Mix\n  Timer Fill\n  Timer Drain\n  Timer Warm\nModule Loop_3\nModule Loop_4\nModule End\n\r");
  x("start");
  EXPECT_EQ(x("alist"), "Module Loop_1\nModule Tank\n If go\n  Expression calc\n EndIf \n  Timer Fill\n  Timer Drain\n"
                        "Module Loop_2\nModule Mix\n  Timer Fill\n  Timer Drain\n  Timer Warm\n"
                        "Module Loop_3\nModule Loop_4\nModule End\n\r");
  EXPECT_EQ(x("del"), "fail\n\r");  // a move clears the block
  x("apos||9");
  EXPECT_EQ(x("blocks"), "OK\n\r");
  x("apos||10");
  EXPECT_EQ(x("blocke"), "OK\n\r");
  EXPECT_EQ(x("del"), "Module Mix\n  Timer Warm\nModule Loop_3\nModule Loop_4\nModule End\n\r");
  EXPECT_EQ(x("blockc"), "None\nNone\n\r");
  x("start");
  EXPECT_EQ(x("alist"), "Module Loop_1\nModule Tank\n If go\n  Expression calc\n EndIf \n  Timer Fill\n  Timer Drain\n"
                        "Module Loop_2\nModule Mix\n  Timer Warm\nModule Loop_3\nModule Loop_4\nModule End\n\r");

  // Variables: renamed within the scope of the cursor.
  x("apos||5");
  EXPECT_EQ(x("sconfig|level|0|0|263|0|0"), "");
  EXPECT_EQ(x("varen|level~height"), "OK\n\r");
  EXPECT_EQ(x("mivar|height"), "0\n\r");
  EXPECT_EQ(x("mivar|level"), "fail\n\r");
  EXPECT_EQ(x("varen|nothing~else"), "fail\n\r");

  // Save, list and import modules of a file, load it again.
  EXPECT_EQ(x("save|plant.qrn"), "OK\n\r");
  EXPECT_TRUE(q.exists("plant.qrn"));
  EXPECT_EQ(x("extract|plant.qrn"), "Loop_1\nTank\nLoop_2\nMix\nLoop_3\nLoop_4\n\r");
  EXPECT_EQ(x("new"), "Module Loop_1\nModule Loop_2\nModule Loop_3\nModule Loop_4\nModule End\n\r");
  EXPECT_EQ(x("extract|plant.qrn|0"), "Loop_1\nTank\nLoop_2\nMix\nLoop_3\nLoop_4\n\r");
  EXPECT_EQ(x("extract|plant.qrn|2"), "fail\n\r");  // Loop_2 is not imported
  EXPECT_EQ(x("extract|plant.qrn|9"), "fail\n\r");
  EXPECT_EQ(x("extract|missing.qrn|0"), "fail\n\r");
  EXPECT_EQ(x("extract||0"), "fail\n\r");
  x("loop||2");
  EXPECT_EQ(x("extract|plant.qrn|3"), "  Timer Warm\nModule Loop_3\nModule Loop_4\nModule End\n\r");
  x("start");
  EXPECT_EQ(x("alist"), "Module Loop_1\nModule Loop_2\nModule Mix\n  Timer Warm\nModule Loop_3\nModule Loop_4\nModule End\n\r");
  EXPECT_EQ(x("load|plant.qrn").substr(0, 26), "Module Loop_1\nModule Tank\n");
  x("start");
  EXPECT_EQ(x("alist"), "Module Loop_1\nModule Tank\n If go\n  Expression calc\n EndIf \n  Timer Fill\n  Timer Drain\n"
                        "Module Loop_2\nModule Mix\n  Timer Warm\nModule Loop_3\nModule Loop_4\nModule End\n\r");
  EXPECT_EQ(x("load|missing.qrn"), "fail\n\r");
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
  x("apos||2");  // Fill, a Timer
  EXPECT_EQ(x("num"), "12\n\r");
  EXPECT_EQ(x("num||1"), "fail\n\r");
  EXPECT_EQ(x("lconfig"), "5\n0\n0\n\r");
  EXPECT_EQ(x("gquorfig"), "Control}Time}Time offset}Time interval}Type~Up counter~Down counter\n\r");
  EXPECT_EQ(x("gconfig||0|0"), "Null|263\nNull|263\n0|2\n0|2\n0|5\n\r");
  EXPECT_EQ(x("gconfig||0|1"), "fail\n\r");  // no repeated groups
  for (int target : {1, 2, 3}) EXPECT_EQ(x("gconfig||" + std::to_string(target) + "|0"), "fail\n\r");
  EXPECT_EQ(x("livar"), "fail\n\r");
  EXPECT_EQ(x("sconfig|big[500]|0|0|263|0|0"), "");  // never answers
  EXPECT_EQ(x("sconfig|run|0|0|263|0|1"), "");
  EXPECT_EQ(x("sconfig||0|" + float_to_wire(2.5f) + "|2|0|2"), "");
  EXPECT_EQ(x("sconfig||0|7|0|0|2"), "");  // the wrong type: refused silently
  EXPECT_EQ(x("gconfig||0|0"), "big[500]|263\nrun|263\n" + float_to_wire(2.5f) + "|2\n0|2\n0|5\n\r");
  EXPECT_EQ(x("resize||0|3"), "fail\n\r");  // a Timer has no size

  // Cells by name: the highest index bounds "rvar" blocks, at most 128.
  EXPECT_EQ(x("mivar|big"), "500\n\r");
  EXPECT_EQ(x("svar|big[10]|" + float_to_wire(-1.25f)), "OK\n\r");
  EXPECT_EQ(x("svar|run|" + float_to_wire(1.0f)), "OK\n\r");
  EXPECT_EQ(x("rvar|big[10]"), float_to_wire(-1.25f) + "\n\r");
  Reply r;
  ASSERT_TRUE(c.command("rvar|big[10]|1", r));
  EXPECT_EQ(r.lines.size(), 128u);
  ASSERT_TRUE(c.command("rvar|big[450]|1", r));
  EXPECT_EQ(r.lines.size(), 51u);
  EXPECT_EQ(x("svar|nothere|1"), "fail\n\r");
  EXPECT_EQ(x("rvar|nothere"), "fail\n\r");
  EXPECT_EQ(x("mivar|nothere"), "fail\n\r");
  EXPECT_EQ(x("livar"), "big[500]|" + float_to_wire(0.0f) + "\nrun|" + float_to_wire(1.0f) + "\n\r");
  EXPECT_EQ(x("lvar"), "Module\nbig\nrun\n!System\n\r");

  // System cells: reads of up to 129 cells, writes from cell 24 on.
  ASSERT_TRUE(c.command("rsys||0|128", r));
  EXPECT_EQ(r.lines.size(), 129u);
  EXPECT_EQ(x("rsys||0|129"), "fail\n\r");
  EXPECT_EQ(x("rsys||11775|0").back(), '\r');
  EXPECT_EQ(x("rsys||11775|1"), "fail\n\r");
  EXPECT_EQ(x("ssys||23|0|1"), "fail\n\r");
  EXPECT_EQ(x("ssys||24|1|" + float_to_wire(3.0f) + "|" + float_to_wire(4.0f)), "OK\n\r");
  EXPECT_EQ(x("rsys||24|1"), float_to_wire(3.0f) + "\n" + float_to_wire(4.0f) + "\n\r");
  EXPECT_EQ(x("ssys||24|16"), "fail\n\r");
  EXPECT_EQ(x("rvar|!System[25]"), float_to_wire(4.0f) + "\n\r");

  // The general configuration pages: target 4, selected with "gpos".
  EXPECT_EQ(x("gpos||11"), "fail\n\r");
  EXPECT_EQ(x("gpos||0"), "OK\n\r");
  EXPECT_EQ(x("lconfig||4"), "9\n4\n2\n\r");
  EXPECT_EQ(x("gconfig||4|1"), "none|264\n0|3\n255|3\n0|7\nnone|264\n255|3\n255|3\n0|7\n\r");
  EXPECT_EQ(x("sconfig|Pump house|4|0|264|0|6"), "");
  EXPECT_EQ(x("sname"), "Pump house\n\r");
  EXPECT_EQ(x("users"), "prog\nVersion 0.946\nPump house\n\r");
  EXPECT_EQ(x("sconfig|Null|4|0|264|0|6"), "");
  EXPECT_EQ(x("sname"), "no name\n\r");
  EXPECT_EQ(x("resize||4|3"), "OK\n\r");
  EXPECT_EQ(x("lconfig||4"), "9\n4\n3\n\r");
  EXPECT_EQ(x("resize||2|3"), "fail\n\r");
}

TEST_F(Programming, RunStopStepAndBreakPoint) {
  EXPECT_EQ(x("status"), "Run\n\r");
  EXPECT_EQ(x("step"), "fail\n\r");  // only while stopped
  EXPECT_EQ(x("stop"), "Stop\n\r");
  EXPECT_EQ(x("status"), "Stop\n\r");
  x("start");
  EXPECT_EQ(x("step"), "cur 1\n\r");
  EXPECT_EQ(x("name"), "Tank\n\r");
  EXPECT_EQ(x("step"), "cur 2\n\r");
  EXPECT_EQ(x("step"), "cur 3\n\r");
  EXPECT_EQ(x("step"), "cur 4\n\r");  // onto the If
  EXPECT_EQ(x("name"), "go\n\r");
  x("apos||5");
  EXPECT_EQ(x("step"), "refresh\n EndIf \n" + loop2_on);  // an EndIf starts a fresh page
  EXPECT_EQ(x("step"), "cur 1\n\r");
  x("loop||4");
  EXPECT_EQ(x("step"), "cur 0\n\r");  // the next line is End: nothing runs
  EXPECT_EQ(x("inst||1"), "Module End\n\r");
  EXPECT_EQ(x("sbreak"), "fail\n\r");
  EXPECT_EQ(x("cont"), "OK\n\r");
  EXPECT_EQ(x("status"), "Run\n\r");

  // A break point halts the scan there and the cursor follows it.
  x("gpos||0");
  x("sconfig||4|20|3|0|1");  // loop 1 every 20 ms
  x("apos||3");
  EXPECT_EQ(x("sbreak"), "Timer Drain\n\r");
  std::string st;
  for (int i = 0; i < 200 && (st = x("status")) != "Stop\n\r"; ++i) usleep(10000);
  EXPECT_EQ(st, "Stop\n\r");
  EXPECT_EQ(x("rapos"), "3\n\r");
  EXPECT_EQ(x("cbreak"), "None\n\r");
  EXPECT_EQ(x("cont"), "OK\n\r");
  EXPECT_EQ(x("status"), "Run\n\r");
  EXPECT_EQ(x("stop"), "Stop\n\r");
  EXPECT_EQ(x("run"), "OK\n\r");
  EXPECT_EQ(x("status"), "Run\n\r");

  // The clock.
  EXPECT_EQ(x("sdate||1000"), "OK\n\r");
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

  Connection wrong = q.session();
  EXPECT_EQ(wrong.login("op", 1234), "fail");  // the wrong key
  Connection op = q.session();
  ASSERT_EQ(op.login("op", 4660), "hmi");
  EXPECT_EQ(exact(op, "users"), "hmi\nVersion 0.946\nNo name\n\r");
  EXPECT_EQ(exact(op, "sdate||5000"), "OK\n\r");
  EXPECT_EQ(exact(op, "rsys||24|0").back(), '\r');
  EXPECT_NE(exact(op, "rsys||24|0"), "fail\n\r");
  EXPECT_EQ(exact(op, "alive"), "OK\n\r");
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
