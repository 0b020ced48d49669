#include "hmi/write_through.h"

#include <cstdio>
#include <memory>

#include "program/file.h"

namespace {

bool read_u16(FILE* f, u16* v) {
  unsigned char b[2];
  if (std::fread(b, 1, 2, f) != 2) return false;
  *v = u16(b[0] | (b[1] << 8));
  return true;
}

// Skips one stored value of type t: 4 bytes, or a string with its zero.
bool skip_value(FILE* f, u16 t) {
  if (!(t & 0x100)) return std::fseek(f, 4, SEEK_CUR) == 0;
  for (int i = 0; i < 256; ++i) {
    int ch = std::fgetc(f);
    if (ch == EOF) return false;
    if (ch == 0) return true;
  }
  return false;
}

}  // namespace

bool operator_write_through(Control* inst, const Iparam& p, u16 group, u16 row) {
  if (!inst || run_inst_update != 1 || inst->file_pos == 0 || (p.type & 0x100)) return false;
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(PROGRAM_FILE, "r+b"), &std::fclose);
  if (!f || std::fseek(f.get(), long(inst->file_pos), SEEK_SET) != 0) return false;
  u16 rows, groups, group_rows;
  if (!read_u16(f.get(), &rows) || !read_u16(f.get(), &groups) || !read_u16(f.get(), &group_rows)) return false;
  if (group > groups || row >= (group == 0 ? rows : group_rows)) return false;
  for (u16 g = 0; g <= group; ++g) {
    u16 n = g < group ? (g == 0 ? rows : group_rows) : row;
    for (u16 r = 0; r < n; ++r) {
      Iparam cur{};
      u16 stored;
      if (!inst->gparam(&cur, g, r) || !read_u16(f.get(), &stored) || stored != cur.type) return false;
      if (!skip_value(f.get(), stored)) return false;
    }
  }
  u16 stored;
  if (!read_u16(f.get(), &stored) || stored != p.type) return false;
  // Reads and writes of one stream need a positioning call between them.
  if (std::fseek(f.get(), 0, SEEK_CUR) != 0) return false;
  unsigned char v[4] = {u8(p.value), u8(p.value >> 8), u8(p.value >> 16), u8(p.value >> 24)};
  if (std::fwrite(v, 1, 4, f.get()) != 4) return false;
  // The value reaches the file when the stream is flushed: a failed flush
  // or close is a failed write.
  return std::fclose(f.release()) == 0;
}
