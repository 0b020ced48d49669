// The controller killed (SIGKILL) at random moments while a programmer saves
// the start-up program over and over: afterwards "quor.qrn" is always either
// the file from before or the one being saved, and the controller starts
// from it again.
#include <gtest/gtest.h>

#include <random>

#include "bench/soak_run.h"

namespace {

std::string file_bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

TEST(FaultSave, KillDuringSaveLeavesOldOrNewProgram) {
  QuorProcess q;
  soak::Options o;
  o.formulas = 200;  // a file of some size, so that a kill can land inside a save
  std::string err;
  ASSERT_TRUE(soak::write_program(q.dir(), free_port(), o, &err)) << err;
  const std::string path = q.path("quor.qrn"), before = file_bytes(path);
  std::string after;  // the file as the controller saves it
  std::mt19937 rng(std::random_device{}());
  std::uniform_int_distribution<int> delay_us(0, 30000);
  int saves = 0;

  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_TRUE(q.start());
    auto s = q.session();
    ASSERT_TRUE(s.is_open());
    ASSERT_EQ(s.login(""), "prog");
    // The program from the file runs.
    quorclient::Reply r;
    ASSERT_TRUE(s.command("status", r));
    EXPECT_EQ(r.first(), "Run");
    ASSERT_TRUE(s.command("save|quor.qrn", r));
    ASSERT_EQ(r.first(), "OK");
    if (after.empty()) after = file_bytes(path);

    // Saves back to back, with no wait for the replies, and a kill among them.
    std::atomic<bool> stop{false};
    std::thread saver([&] {
      while (!stop.load() && s.send_line("save|quor.qrn")) ++saves;
    });
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us(rng)));
    kill(q.pid(), SIGKILL);
    q.stop();  // reaps it
    stop = true;
    saver.join();
    s.close();

    std::string now = file_bytes(path);
    ASSERT_TRUE(now == before || now == after) << "quor.qrn of " << now.size() << " bytes is neither";
  }
  EXPECT_GT(soak::loaded_instructions(q.dir(), "quor.qrn"), 200);
  std::printf("%d saves sent around 10 kills\n", saves);
}

}  // namespace
