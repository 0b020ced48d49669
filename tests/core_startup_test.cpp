#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/startup.h"

namespace {
int parse(std::vector<std::string> args, Options& o) {
  std::vector<char*> argv{const_cast<char*>("quor")};
  for (auto& a : args) argv.push_back(a.data());
  return parse_options(int(argv.size()), argv.data(), o);
}
}  // namespace

TEST(CommandLine, OptionsAndErrors) {
  Options o;
  EXPECT_EQ(parse({"--dir", "/tmp/x", "--port", "8080", "--serial", "2=/dev/pts/7", "--board"}, o), -1);
  EXPECT_EQ(o.dir, "/tmp/x");
  EXPECT_EQ(o.port, 8080);
  EXPECT_EQ(o.serial[1], "/dev/pts/7");
  EXPECT_EQ(o.serial[0], "/dev/ttyS0");
  EXPECT_TRUE(o.board);

  Options d;
  EXPECT_EQ(parse({}, d), -1);
  EXPECT_EQ(d.dir, "/home/quor/");
  EXPECT_EQ(d.port, -1);
  EXPECT_FALSE(d.board);

  testing::internal::CaptureStderr();
  for (auto bad : std::vector<std::vector<std::string>>{
           {"--what"}, {"--port"}, {"--port", "0"}, {"--port", "70000"}, {"--port", "12x"},
           {"--port", "-5"}, {"--serial", "5=/dev/x"}, {"--serial", "1="}, {"--serial", "1/dev"}, {"--dir"}}) {
    Options b;
    EXPECT_EQ(parse(bad, b), 2) << bad[0];
  }
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("quor:"), std::string::npos);

  testing::internal::CaptureStdout();
  Options h;
  EXPECT_EQ(parse({"--help"}, h), 0);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("usage: quor"), std::string::npos);
}

TEST(CommandLine, WorkingDirectoryIsCreated) {
  auto base = std::filesystem::temp_directory_path() / ("quor-path-" + std::to_string(getpid()));
  std::filesystem::remove_all(base);
  auto old = std::filesystem::current_path();
  Options saved = options;
  options.dir = (base / "a" / "b").string();
  EXPECT_NE(set_path(), 0);
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::canonical(base / "a" / "b"));
  std::filesystem::current_path(old);
  options = saved;
  std::filesystem::remove_all(base);
}
