// The test runner: every subsystem's hooks are installed once, as the
// controller does at start-up. A test that replaces an entry restores the
// table with HookGuard (tests/support/hook_guard.h).
#include <gtest/gtest.h>

#include "core/hooks.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  install_hooks();
  return RUN_ALL_TESTS();
}
