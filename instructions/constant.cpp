#include "instructions/constant.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/convert.h"
#include "core/registry.h"
#include "instructions/common.h"
#include "program/file.h"

const RowTable<Constant> Constant::rows{
    {
        rows::ref<&Constant::variable_>("Variable", &Constant::revalidate),
        rows::num<&Constant::data_type_>("Data type~Float~Date~Time~Dec integer~Hex integer",
                                         ptype::Select, 0, 4),
        rows::num<&Constant::mode_>("Mode~Normal~Startup~Capture~Disable", ptype::Select, 0, 3),
    },
    {
        // The value row's type follows the data type: handled in gparam/sparam.
        rows::custom<Constant>(
            "Value", ptype::Float, [](Constant&, u16, Iparam&, const Row<Constant>&) {},
            [](Constant&, u16, const Iparam&, const Row<Constant>&) { return false; }),
        rows::custom<Constant>("Description", ptype::Text, &Constant::get_description,
                               &Constant::set_description),
    }};

void Constant::get_description(Constant& c, u16 g, Iparam& p, const Row<Constant>&) {
  const std::string& d = c.table_[g - 1].description;
  p.text = d.empty() ? nullptr : d.c_str();
}

bool Constant::set_description(Constant& c, u16 g, const Iparam& p, const Row<Constant>&) {
  size_t n = p.text ? std::strlen(p.text) : 0;
  if (n > MAX_DESCRIPTION) return false;
  c.table_[g - 1].description.assign(p.text ? p.text : "", n);
  return true;
}

Constant::Constant(Control* prev, const char* desc, u16 n) : WithRows(prev, desc) { resize(n); }

void Constant::revalidate(Constant& c, u16) {
  if (c.variable_.var) revalidate_block(c.variable_, u16(c.table_.size() - 1));
}

bool Constant::resize(u16 n) {
  table_.resize(std::clamp<u16>(n, 1, MAX_ROWS));
  revalidate(*this, 0);
  return true;
}

u32 Constant::wire_value(float v) const {
  return data_type_ == ptype::Float ? float_bits(v) : wrap<u32>(v);
}

bool Constant::gparam(Iparam* p, u16 group, u16 row) {
  if (group >= 1 && group <= table_.size() && row == 0) {
    p->type = data_type_;
    p->value = wire_value(table_[group - 1].value);
    return true;
  }
  return WithRows::gparam(p, group, row);
}

bool Constant::sparam(Iparam* p, u16 group, u16 row) {
  if (group >= 1 && group <= table_.size() && row == 0) {
    if (p->type != data_type_) return false;
    float v = data_type_ == ptype::Float ? p->f() : float(p->value);
    table_[group - 1].value = v;
    if (mode_ == Capture && variable_.var) variable_.set(u16(group - 1), v);
    return true;
  }
  return WithRows::sparam(p, group, row);
}

Control* Constant::execute() {
  if (!variable_.var || mode_ == Disable) return next;
  const u16 n = u16(table_.size());
  const bool first = inst::first_scan();
  if (mode_ == Normal || first) {
    for (u16 k = 0; k < n; ++k) variable_.set(k, table_[k].value);
    return next;
  }
  if (mode_ != Capture) return next;  // Startup after the first scan
  bool changed = false;
  for (u16 k = 0; k < n; ++k) {
    Idata v = variable_.get(k);
    if (float_bits(v) != float_bits(table_[k].value)) {
      table_[k].value = v;
      changed = true;
    }
  }
  if (changed && run_inst_update && file_pos != 0) capture_to_file();
  return next;
}

void Constant::capture_to_file() {
  u32 values[MAX_ROWS];
  for (size_t k = 0; k < table_.size(); ++k) values[k] = wire_value(table_[k].value);
  constant_capture_write(PROGRAM_FILE, file_pos, data_type_,
                         std::span<const u32>(values, table_.size()));
}

namespace {

class Patch {
 public:
  explicit Patch(FILE* f) : f_(f) {}
  bool u16_is(u16 want) {
    unsigned char b[2];
    return std::fread(b, 1, 2, f_) == 2 && u16(b[0] | b[1] << 8) == want;
  }
  bool read_u16(u16* v) {
    unsigned char b[2];
    if (std::fread(b, 1, 2, f_) != 2) return false;
    *v = u16(b[0] | b[1] << 8);
    return true;
  }
  // A stored string: at most 256 bytes are examined for its terminator.
  bool skip_string() {
    for (int i = 0; i < 256; ++i) {
      int c = std::fgetc(f_);
      if (c == EOF) return false;
      if (c == 0) return true;
    }
    return false;
  }
  bool skip(long n) { return std::fseek(f_, n, SEEK_CUR) == 0; }
  bool write_u32(u32 v) {
    unsigned char b[4] = {u8(v), u8(v >> 8), u8(v >> 16), u8(v >> 24)};
    // A stream switches between reading and writing only after a seek.
    return std::fseek(f_, 0, SEEK_CUR) == 0 && std::fwrite(b, 1, 4, f_) == 4 &&
           std::fseek(f_, 0, SEEK_CUR) == 0;
  }

 private:
  FILE* f_;
};

}  // namespace

bool constant_capture_write(const char* path, u32 pos, u8 data_type,
                            std::span<const u32> values) {
  FILE* f = std::fopen(path, "r+b");
  if (!f) return false;
  Patch p(f);
  bool ok = std::fseek(f, long(pos), SEEK_SET) == 0;
  u16 first = 0;
  ok = ok && p.read_u16(&first);
  if (ok && first == 3) {
    // The block's shape (rows 3, groups, rows per group 2) comes first.
    u16 groups = 0, group_rows = 0;
    ok = p.read_u16(&groups) && p.read_u16(&group_rows) && group_rows == 2 &&
         groups == values.size() && p.read_u16(&first);
  }
  ok = ok && first == ptype::Ref && p.skip_string() && p.skip(12);
  for (size_t k = 0; ok && k < values.size(); ++k)
    ok = p.u16_is(data_type) && p.write_u32(values[k]) && p.u16_is(ptype::Text) && p.skip_string();
  return std::fclose(f) == 0 && ok;
}

QUOR_REGISTER_INSTRUCTION(3, Constant);
