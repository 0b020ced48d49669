// Save and load times of a program of 20000 Expression instructions, next
// to writing and reading the same bytes with plain stdio (the baseline).
//   bench_program_file [instructions]   (default 20000)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/table.h"
#include "core/module.h"
#include "core/hooks.h"
#include "core/registry.h"
#include "expr/names.h"
#include "platform/platform.h"
#include "program/cursor.h"
#include "program/editing.h"
#include "program/file.h"
#include "program/program_new.h"

namespace fs = std::filesystem;

namespace {

double now_s() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool set_text(Control* c, u16 g, u16 row, const std::string& t) {
  Iparam p{};
  p.type = ptype::Text;
  p.text = t.c_str();
  return c->sparam(&p, g, row);
}

// Puts the cursor after the last module of the loop that module i goes to:
// the loops take the modules in turn.
void position_loop_for(int i) {
  position_loop(u16((i / 100) % 4));
  while (current_instruction->next && current_instruction->next != loop_start[current_loop + 1])
    current_instruction = current_instruction->next;
  current_module = module_of(current_instruction);
}

bool var_name_ref(const char* name, pIdata* ref) { return var_name(name, ref, true); }

// Modules of 100 Expressions, each with two formulas over the module's own
// variables and one loop-wide variable.
void build(int count) {
  program_new(false);
  int per_module = 100;
  for (int i = 0; i < count; ++i) {
    if (i % per_module == 0) {
      position_loop_for(i);
      std::string name = "M";
      name += std::to_string(i / per_module);
      program_instruction(0, name.c_str(), 0);
    }
    program_instruction(20, ("calc " + std::to_string(i)).c_str(), 2);
    Control* e = current_instruction;
    std::string k = std::to_string(i % per_module);
    Iparam r{};
    r.type = ptype::Ref;
    var_name_ref(("y" + k).c_str(), &r.ref);
    e->sparam(&r, 1, 0);
    set_text(e, 1, 2, "(a" + k + " + b" + k + ") * 2.5 - #level");
    var_name_ref(("z" + k + "[3]").c_str(), &r.ref);
    e->sparam(&r, 2, 0);
    set_text(e, 2, 2, "y" + k + " 'max' 10");
    set_text(e, 2, 3, "limit of row " + k);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int count = argc > 1 ? std::atoi(argv[1]) : 20000;
  if (count < 1) count = 1;
  auto platform = make_host_platform();
  plat = platform.get();
  install_hooks();
  inst_build();
  if (!inst_factory[20]) {
    std::fprintf(stderr, "no Expression class linked in\n");
    return 1;
  }
  fs::path dir = fs::temp_directory_path() / ("quor_bench_prog_" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::path old = fs::current_path();
  fs::current_path(dir);

  build(count);
  const int runs = 3;
  double save = 1e9, load = 1e9, raw_w = 1e9, raw_r = 1e9;
  for (int r = 0; r < runs; ++r) {
    double t0 = now_s();
    if (!program_save("bench.qrn")) {
      std::fprintf(stderr, "save failed\n");
      return 1;
    }
    save = std::min(save, now_s() - t0);
  }
  size_t bytes = fs::file_size("bench.qrn");
  std::vector<char> buf(bytes);
  for (int r = 0; r < runs; ++r) {
    // Baseline: the same bytes read and written with plain stdio (write
    // flushed to disk like the save).
    double t0 = now_s();
    FILE* f = std::fopen("bench.qrn", "rb");
    size_t got = std::fread(buf.data(), 1, bytes, f);
    std::fclose(f);
    raw_r = std::min(raw_r, now_s() - t0);
    t0 = now_s();
    f = std::fopen("raw.bin", "wb");
    std::fwrite(buf.data(), 1, got, f);
    std::fflush(f);
    fsync(fileno(f));
    std::fclose(f);
    raw_w = std::min(raw_w, now_s() - t0);

    t0 = now_s();
    if (!program_load("bench.qrn", 0)) {
      std::fprintf(stderr, "load failed\n");
      return 1;
    }
    load = std::min(load, now_s() - t0);
  }
  size_t n = 0;
  for (Control* c = loop_start[0]; c; c = c->next) n += c->num() == 20;

  std::printf("program of %zu Expression instructions, file %zu bytes (best of %d)\n", n, bytes, runs);
  std::printf("  save  %8.3f s   (goal < 1 s)   baseline write+fsync %8.4f s\n", save, raw_w);
  std::printf("  load  %8.3f s   (goal < 2 s)   baseline read        %8.4f s\n", load, raw_r);
  table_row("program save, 20000 Expressions", fig(save, "s", 3), fig(raw_w, "s write+fsync", 4), save / raw_w,
            "< 1 s", save < 1.0);
  table_row("program load, 20000 Expressions", fig(load, "s", 3), fig(raw_r, "s read", 4), load / raw_r, "< 2 s",
            load < 2.0);

  program_new(false);
  fs::current_path(old);
  fs::remove_all(dir);
  return 0;
}
