// History tests: the instruction fixture in a temporary working directory,
// and a reader of the file layout written independently of history/.
#pragma once
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "history/history.h"
#include "tests/support/inst_fixture.h"
#include "tests/support/temp_dir.h"

// Decodes a history file from its bytes: header words, labels, records.
struct RawHist {
  std::vector<unsigned char> b;
  bool periodic = true;

  explicit RawHist(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    b.assign(std::istreambuf_iterator<char>(in), {});
    periodic = name.size() > 4 && name.compare(name.size() - 4, 4, ".per") == 0;
  }
  unsigned w32(size_t at) const {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | unsigned(b[at + 3]) << 24;
  }
  unsigned next() const { return w32(0); }
  unsigned first() const { return w32(4); }
  unsigned last() const { return w32(8); }
  unsigned n() const { return w32(12); }
  unsigned slot() const { return periodic ? 4 * (n() + 1) : 14; }
  unsigned format(unsigned i) const { return b[16 + i]; }
  std::string name(unsigned i) const {
    const char* p = reinterpret_cast<const char*>(&b[16 + n() + 48 * i]);
    return std::string(p, strnlen(p, 48));
  }
  size_t at(unsigned record) const { return size_t(first() + record) * slot(); }
  unsigned time(unsigned record) const { return w32(at(record)); }
  unsigned value_bits(unsigned record, unsigned i) const { return w32(at(record) + 4 + 4 * i); }
  float value(unsigned record, unsigned i) const {
    unsigned u = value_bits(record, i);
    float f;
    std::memcpy(&f, &u, 4);
    return f;
  }
  unsigned event(unsigned record) const { return b[at(record) + 12] | b[at(record) + 13] << 8; }
};

class HistTest : public InstTest {
 protected:
  void SetUp() override {
    InstTest::SetUp();
    dir_ = std::make_unique<InTempDir>();
  }
  void TearDown() override {
    hist_build_wait();
    dir_.reset();
    InstTest::TearDown();
  }
  // A file created through new_periodic / new_event with labels "b1".. and
  // format codes i % 8.
  static bool make(HistKind k, int f, unsigned n, unsigned records) {
    auto p = std::make_unique<hist_par>();
    p->file = unsigned(f);
    p->n = n;
    p->records = records;
    for (unsigned i = 0; i < n && i < HIST_MAX_N; ++i) {
      p->format[i] = u8(i % 8);
      std::snprintf(p->names[i], HIST_NAME_LEN, "b%u", i + 1);
    }
    return k == HistKind::Periodic ? new_periodic(p.get()) : new_event(p.get());
  }
  static hist_par status(HistKind k, int f, bool* ok = nullptr) {
    hist_par p;
    p.file = unsigned(f);
    bool r = k == HistKind::Periodic ? status_periodic(&p) : status_event(&p);
    if (ok) *ok = r;
    return p;
  }
  std::unique_ptr<InTempDir> dir_;
};
