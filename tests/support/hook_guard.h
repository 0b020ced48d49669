// Saves a hook table (or a single hook) and restores it when the guard
// goes, so that a test replacing some entries leaves every other
// subsystem's entries as the runner installed them:
//   HookGuard g(engine_hooks);
//   engine_hooks.io_advance = [] { return true; };
#pragma once

template <class Table>
class HookGuard {
 public:
  explicit HookGuard(Table& table) : table_(table), saved_(table) {}
  ~HookGuard() { table_ = saved_; }
  HookGuard(const HookGuard&) = delete;
  HookGuard& operator=(const HookGuard&) = delete;

 private:
  Table& table_;
  Table saved_;
};
