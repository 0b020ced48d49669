// quorctl against a running controller, through the real binaries: each
// command family, the reasons it gives for refusals, and its exit statuses.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/quor_process.h"

namespace {

struct Ctl {
  int status = -1;
  std::string out, err;
};

class Quorctl : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(q.start());
    // Two modules in loop 1 that both have a variable "level"; Pump also
    // has "speed". The constants that declare them are disabled.
    Ctl c = shell("--password ''",
                  "apos||0\ninsert|Tank|0|0\ninsert|level const|3|1\nsconfig|level|0|0|263|0|0\n"
                  "sconfig||0|3|5|0|2\ninsert|Pump|0|0\ninsert|pump const|3|1\nsconfig|level|0|0|263|0|0\n"
                  "sconfig||0|3|5|0|2\ninsert|speed const|3|1\nsconfig|speed|0|0|263|0|0\nsconfig||0|3|5|0|2\n");
    ASSERT_EQ(c.status, 0) << c.err;
  }
  // quorctl with the options and arguments given; env goes in front.
  Ctl run(const std::string& args, const std::string& env = "", const std::string& input = "",
          bool with_port = true) {
    std::string in = q.path("ctl.in"), err = q.path("ctl.err");
    q.write("ctl.in", input);
    std::string cmd = "cd " + q.dir() + " && " + env + " " + QUOR_BINARY_DIR + "/quorctl " +
                      (with_port ? "--port " + std::to_string(q.port()) + " " : "") + args + " <" + in + " 2>" + err;
    Ctl c;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return c;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) c.out.append(buf, n);
    int st = pclose(p);
    c.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    c.err = q.read("ctl.err");
    return c;
  }
  Ctl shell(const std::string& opts, const std::string& input) { return run(opts + " shell", "", input); }
  QuorProcess q;
};

struct Case {
  const char* args;
  int status;
  const char* out;  // exact standard output, or nullptr
  const char* err;  // text the message must hold, or nullptr
};

void check(const Ctl& c, const Case& k) {
  EXPECT_EQ(c.status, k.status) << k.args << "\n" << c.err;
  if (k.out) {
    EXPECT_EQ(c.out, k.out) << k.args;
  }
  if (k.err) {
    EXPECT_NE(c.err.find(k.err), std::string::npos) << k.args << ": " << c.err;
  }
  if (k.status) {  // a message of quorctl's own, after any of quorc's
    EXPECT_TRUE(c.err.rfind("quorctl: ", 0) == 0 || c.err.find("\nquorctl: ") != std::string::npos)
        << k.args << ": " << c.err;
  }
}

// Variables by Module.name whatever the shared cursor, and every way a name
// can fail.
TEST_F(Quorctl, VariablesByModule) {
  const Case cases[] = {
      {"set Tank.level 12.5", 0, "", nullptr},
      {"raw 'apos||0'", 0, nullptr, nullptr},  // the cursor elsewhere
      {"set Pump.level -7", 0, "", nullptr},
      {"set speed 3e2", 0, "", nullptr},  // only Pump has it
      {"get Tank.level", 0, "12.5\n", nullptr},
      {"get Pump.level", 0, "-7\n", nullptr},
      {"get speed", 0, "300\n", nullptr},
      {"--json get Tank.level", 0, "{\"name\":\"Tank.level\",\"values\":[12.5]}\n", nullptr},
      {"set '!System[40]' 0.1", 0, "", nullptr},
      {"get '!System[40]' 2", 0, "0.1\n0\n", nullptr},
      {"get level", 2, "", "several modules: say which: Tank.level, Pump.level"},
      {"get Tank.nothere", 1, "", "unknown variable \"nothere\" in module \"Tank\""},
      {"get Nomod.level", 1, "", "no module \"Nomod\" in the program (modules: Loop_1, Tank, Pump,"},
      {"get nothere", 1, "", "unknown variable \"nothere\": no module has it"},
      {"get 'Tank.level[5]'", 1, "", "beyond the variable's highest index 0"},
      {"get '!nothere'", 1, "", "unknown variable \"!nothere\" in the system scope"},
      {"set Tank.level abc", 2, "", "VALUE must be a decimal number"},
      {"get Tank.level 129", 2, "", "COUNT must be 1 to 128"},
  };
  for (const Case& k : cases) check(run(k.args), k);
  Ctl w = run("watch Tank.level Pump.level --count 2 --interval 0.05");
  ASSERT_EQ(std::count(w.out.begin(), w.out.end(), '\n'), 2) << w.out;
  EXPECT_NE(w.out.find("  Tank.level=12.5  Pump.level=-7\n"), std::string::npos) << w.out;
  w = run("--json watch Pump.level --count 1");
  EXPECT_NE(w.out.find(",\"values\":{\"Pump.level\":-7}}\n"), std::string::npos) << w.out;
}

// Parameter rows by label, choices by text, decimals, read back; and the
// configuration pages.
TEST_F(Quorctl, ParametersByLabel) {
  const Case cases[] = {
      {"params Tank/1", 0,
       "Variable = level\nData type = Float\nMode = Disable\nValue[1] = 0\nDescription[1] = none\n", nullptr},
      {"set-param 'Tank/level const' mode capture", 0, "Mode = Capture\n", nullptr},
      {"set-param Tank/Constant 'Value[1]' 2.5", 0, "Value[1] = 2.5\n", nullptr},
      {"set-param Tank/1 Description[1] 'top up'", 0, "Description[1] = top up\n", nullptr},
      {"--json params Tank/1", 0,
       "[{\"label\":\"Variable\",\"group\":0,\"row\":0,\"type\":263,\"value\":\"level\"},"
       "{\"label\":\"Data type\",\"group\":0,\"row\":1,\"type\":5,\"value\":\"Float\"},"
       "{\"label\":\"Mode\",\"group\":0,\"row\":2,\"type\":5,\"value\":\"Capture\"},"
       "{\"label\":\"Value\",\"group\":1,\"row\":0,\"type\":0,\"value\":2.5},"
       "{\"label\":\"Description\",\"group\":1,\"row\":1,\"type\":264,\"value\":\"top up\"}]\n",
       nullptr},
      {"set-param Tank/1 Description[1] Null", 0, "Description[1] = none\n", nullptr},
      {"set-param Tank/1 Mode bogus", 2, "", "Mode is one of: Normal, Startup, Capture, Disable"},
      {"set-param Tank/1 Nope 1", 2, "", "Tank/1 has no row \"Nope\"; its rows are:\n  Variable\n"},
      {"set-param Tank/1 Value[1] x", 2, "", "Value[1] takes a decimal number"},
      {"params Tank/9", 1, "", "module \"Tank\" has no instruction \"9\"; it has:\n  1: Constant level const"},
      {"params 'Pump/speed const'", 0, nullptr, nullptr},
      {"set-param Pump 'screen title' Pumps", 0, "Screen title = Pumps\n", nullptr},
      {"set-param --page 0 'Loop 1 time mS' 500", 0, "Loop 1 time mS = 500\n", nullptr},
      {"params --page 'general/password'", 0, nullptr, nullptr},
      {"params --page 11", 2, "", "no configuration page \"11\" (pages: 0 General/Password,"},
      // A value the controller limits is reported, and what it kept shown.
      {"set-param --page 0 Low[2] 0", 0, "Low[2] = 1\n", "Low[2]: the controller limited 0 to 1"},
  };
  for (const Case& k : cases) check(run(k.args), k);
}

// Who may do what: logins, programmer sessions, passwords, connections.
TEST_F(Quorctl, AccessAndConnection) {
  const Case cases[] = {
      // The programmer's password becomes "secret"; the empty one logs in as
      // an operator (the second entry), then not at all.
      {"set-param --page 0 Password[1] secret", 0, "Password[1] = secret\n", nullptr},
      {"raw 'rsys||0|1'", 1, "fail\n\r", "rsys needs a login at level 0 or 1"},
      {"set-param --page 0 Password[2] other", 4, "", "the password logs in as an operator (hmi)"},
      {"--password secret set-param --page 0 Password[2] other", 0, "Password[2] = other\n", nullptr},
      {"users", 0, "none\nVersion 0.946\nNo name\n", nullptr},
      {"--json users", 0, "{\"logged_in\":\"none\",\"version\":\"Version 0.946\",\"site\":\"No name\"}\n", nullptr},
      {"status", 0, "Run\n", nullptr},
      {"raw term", 0, "sync\n\r", nullptr},
      {"raw 'rsys||0|1'", 4, "", "no entry for the empty password"},
      {"--password wrong status", 4, "", "login refused: no password entry matches --password"},
      {"--password secret raw 'rsys||0|200'", 1, "fail\n\r", "rsys: refused"},
      {"raw bogus", 1, "fail\n\r", "the controller has no command \"bogus\""},
      {"--password secret stop", 0, "Stop\n", nullptr},
      {"status", 0, "Run\n", nullptr},  // the programmer's session ended: running again
      {"nosuch", 2, "", "unknown command nosuch"},
      {"status extra", 2, "", "status takes no arguments"},
      {"--port 0 users", 2, "", "--port needs a port number"},
  };
  for (const Case& k : cases) check(run(k.args), k);
  // The port from QUOR_PORT when --port is not given; --port wins.
  check(run("users", "QUOR_PORT=" + std::to_string(q.port()), "", false), {"QUOR_PORT", 0, nullptr, nullptr});
  check(run("users", "QUOR_PORT=1"), {"--port over QUOR_PORT", 0, nullptr, nullptr});
  check(run("users", "QUOR_PORT=x", "", false), {"QUOR_PORT=x", 2, "", "QUOR_PORT needs a port number"});
  // While a programmer holds the controller, other sessions are closed.
  {
    quorclient::Connection prog = q.session();
    ASSERT_EQ(prog.login("secret"), "prog");
    check(run("users"), {"users", 0, "prog\nVersion 0.946\nNo name\n", nullptr});
    check(run("get Tank.level"), {"get", 4, "", "a programmer session is active"});
    check(run("--password secret status"), {"login", 4, "", "a programmer session is active"});
  }
  check(run("--help"), {"--help", 0, nullptr, nullptr});
  q.stop();
  check(run("users"), {"stopped", 3, "", "Connection refused (is the controller running?"});
}

// Program and file transfer, push and pull of program text.
TEST_F(Quorctl, FilesPushAndPull) {
  q.write("f.txt", "file");
  const Case cases[] = {
      {"save plant.qrn", 0, "", nullptr},
      {"load plant.qrn", 0, nullptr, nullptr},
      {"load missing.qrn", 1, "", "no file \"missing.qrn\" in the controller's working directory"},
      {"load f.txt", 1, "", "not a program file the controller can read"},
      {"save ../plant.qrn", 1, "", "file names must stay inside its working directory"},
      {"download f.txt -o copy.txt", 0, "", nullptr},
      {"download f.txt -o -", 0, "file", nullptr},
      {"download nothere.txt", 1, "", "nothere.txt: not found"},
      {"upload f.txt --as g.txt", 0, "", nullptr},
      {"upload f.txt --as ../g.txt", 1, "", "refused the file name \"../g.txt\""},
      {"upload missing.txt", 2, "", "cannot read missing.txt"},
      {"fcopy f.txt f.txt", 1, "", "a file cannot be copied onto itself"},
  };
  for (const Case& k : cases) check(run(k.args), k);
  EXPECT_EQ(q.read("copy.txt"), "file");
  EXPECT_EQ(q.read("g.txt"), "file");

  // push and pull through the compiler built into quorctl: the saved
  // program comes back as text and goes up again; text with a mistake is
  // refused with its line and column.
  check(run("pull plant.qp --file plant.qrn"), {"pull --file", 0, nullptr, nullptr});
  EXPECT_NE(q.read("plant.qp").find("module Pump"), std::string::npos) << q.read("plant.qp");
  q.write("bad.qp", "x");
  std::remove(q.path("quor.qrn").c_str());
  const Case pushes[] = {
      {"push plant.qp", 0,
       "plant.qp: built and uploaded as plant.qrn, loaded, saved as quor.qrn (the start-up program): "
       "7 modules, 3 instructions; program running\n",
       nullptr},
      {"push bad.qp", 1, "", "bad.qp:1:1: expected"},
      {"push plant.qp --as quor.qrn", 2, "", "pick another name"},
  };
  for (const Case& k : pushes) check(run(k.args), k);
  EXPECT_GT(q.read("quor.qrn").size(), 0u);
  Ctl c = run("pull");
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.out, q.read("plant.qp"));
  EXPECT_EQ(run("pull out.qp --live").status, 0);
  EXPECT_EQ(q.read("out.qp"), q.read("plant.qp"));
  EXPECT_FALSE(q.exists("quorctl-pull.qrn"));
}

// The shell: decimals to and from bit patterns, help, a session that ends
// and is opened again.
TEST_F(Quorctl, Shell) {
  Ctl c = shell("", "term\nsconfig|x|0|0|263|0|0\nsvar|!System[40]|2.5\nrvar|!System[40]|0\nraw on\n"
                    "rvar|!System[40]|0\nraw off\nsvar|!System[41]|=1075838976\nrvar|!System[41]|0\n"
                    "rvar|nothere\nhelp rvar\nlogoff\nstatus\n");
  EXPECT_EQ(c.status, 0) << c.err;
  EXPECT_EQ(c.out,
            "sync\nOK\n2.5\n1075838976\nOK\n2.5\nfail\nrvar|NAME|ALL  (any)\n  read a cell (ALL 1: up to 128 "
            "cells)\nOK\nRun\n");
  EXPECT_NE(c.err.find("the session had ended; connecting again"), std::string::npos) << c.err;
}

// The demo plant goes up as text and runs: the simulated level climbs from
// 20 % toward the 50 % set-point; it comes back as text that the real
// compiler builds into the very file the controller saved.
TEST_F(Quorctl, DemoPlantUpRunsAndComesBack) {
  std::ifstream in(std::string(QUOR_SOURCE_DIR) + "/examples/demo/plant.qp");
  std::string text(std::istreambuf_iterator<char>(in), {});
  // Tests listen on loopback only: the demo's Modbus TCP slave stays off.
  const std::string on = "\"Ethernet modbus slave enable\" = Enabled";
  ASSERT_NE(text.find(on), std::string::npos);
  q.write("plant.qp", text.replace(text.find(on), on.size(), "\"Ethernet modbus slave enable\" = Disabled"));
  Ctl c = run("push plant.qp");
  ASSERT_EQ(c.status, 0) << c.err;
  auto get = [&](std::string name) { Ctl g = run("get '" + name + "'"); return g.status ? NAN : std::stof(g.out); };
  float first = 0, level = 0;  // the first pass starts on the next whole second
  for (int i = 0; i < 30 && !(first > 0); ++i) usleep(100000), first = get("!level");
  EXPECT_NEAR(first, 20.0f, 2.0f);
  for (int i = 0; i < 80 && !(level >= first + 3); ++i) usleep(100000), level = get("!level");
  EXPECT_GE(level, first + 3);  // filling at 1.5 %/s, the valve shut
  EXPECT_LT(level, 50.0f);
  EXPECT_EQ(get("!pump"), 1.0f);
  EXPECT_EQ(get("!valve"), 0.0f);
  EXPECT_TRUE(q.exists("quor1.per") && q.exists("quor1.evt"));
  const Case cases[] = {
      {"params Control/Pid", 0, nullptr, nullptr},
      {"set-param 'Control/Outlet valve' Proportional 2.5", 0, "Proportional = 2.5\n", nullptr},
      {"watch '!level' Control.error --count 1", 0, nullptr, nullptr},
      {"pull demo.qp", 0, "", nullptr},
  };
  for (const Case& k : cases) check(run(k.args), k);
  EXPECT_NE(q.read("demo.qp").find("Pid \"Outlet valve\""), std::string::npos);
  const std::string quorc = std::string(QUOR_BINARY_DIR) + "/quorc";
  if (access(quorc.c_str(), X_OK) != 0) GTEST_SKIP() << "no quorc in this build";
  ASSERT_EQ(std::system((quorc + " build " + q.path("demo.qp") + " -o " + q.path("again.qrn")).c_str()), 0);
  EXPECT_EQ(q.read("again.qrn"), q.read("quor.qrn"));
}

}  // namespace
