#include "instructions/constant.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/convert.h"
#include "core/engine.h"
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
  if ((changed || capture_pending_) && run_inst_update && file_pos != 0) capture_to_file(changed);
  return next;
}

// A write that failed (a read-only, vanished or replaced file, a short
// write) keeps the values pending: they are written with the next change,
// or tried again once a second, until the file takes them or a save
// rewrites the program.
void Constant::capture_to_file(bool changed) {
  const u32 now = timec.load(std::memory_order_relaxed);
  if (!changed && now == capture_tried_) return;
  u32 values[MAX_ROWS];
  for (size_t k = 0; k < table_.size(); ++k) values[k] = wire_value(table_[k].value);
  capture_pending_ = !constant_capture_write(PROGRAM_FILE, file_pos, data_type_,
                                             std::span<const u32>(values, table_.size()));
  capture_tried_ = now;
}

namespace {

// Reads a Constant's record from a copy of the file's bytes.
class RecordReader {
 public:
  RecordReader(const unsigned char* bytes, size_t size) : p_(bytes), n_(size) {}
  size_t at() const { return at_; }
  bool read_u16(u16* v) {
    if (n_ - at_ < 2) return false;
    *v = u16(p_[at_] | p_[at_ + 1] << 8);
    at_ += 2;
    return true;
  }
  bool u16_is(u16 want) {
    u16 v;
    return read_u16(&v) && v == want;
  }
  bool skip(size_t k) {
    if (n_ - at_ < k) return false;
    at_ += k;
    return true;
  }
  // A stored string: at most 256 bytes are examined for its terminator.
  bool skip_string() {
    const void* z = std::memchr(p_ + at_, 0, std::min<size_t>(256, n_ - at_));
    if (!z) return false;
    at_ = size_t(static_cast<const unsigned char*>(z) - p_) + 1;
    return true;
  }

 private:
  const unsigned char* p_;
  size_t n_;
  size_t at_ = 0;
};

}  // namespace

// The whole record is read and checked first; only then are the values
// patched into the copy and the span from the first value to the last
// written back in one write. A mismatch anywhere leaves the file as it was.
bool constant_capture_write(const char* path, u32 pos, u8 data_type,
                            std::span<const u32> values) {
  if (values.empty()) return false;
  int fd = ::open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  // The longest record: shape, reference, two choices, then per row a value
  // and a description, every string at its 256-byte bound.
  std::vector<unsigned char> buf(6 + 2 + 256 + 12 + values.size() * (6 + 2 + 256));
  ssize_t got = ::pread(fd, buf.data(), buf.size(), off_t(pos));
  RecordReader r(buf.data(), got > 0 ? size_t(got) : 0);
  u16 first = 0;
  bool ok = r.read_u16(&first);
  if (ok && first == 3) {
    // The block's shape (rows 3, groups, rows per group 2) comes first.
    u16 groups = 0, group_rows = 0;
    ok = r.read_u16(&groups) && r.read_u16(&group_rows) && group_rows == 2 &&
         groups == values.size() && r.read_u16(&first);
  }
  ok = ok && first == ptype::Ref && r.skip_string() && r.skip(12);
  size_t from = 0, to = 0;
  for (size_t k = 0; ok && k < values.size(); ++k) {
    ok = r.u16_is(data_type);
    if (!ok) break;
    size_t at = r.at();
    ok = r.skip(4) && r.u16_is(ptype::Text) && r.skip_string();
    if (!ok) break;
    const u32 v = values[k];
    buf[at] = u8(v);
    buf[at + 1] = u8(v >> 8);
    buf[at + 2] = u8(v >> 16);
    buf[at + 3] = u8(v >> 24);
    if (k == 0) from = at;
    to = at + 4;
  }
  if (ok) {
    const size_t len = to - from;
    ok = ::pwrite(fd, buf.data() + from, len, off_t(pos + from)) == ssize_t(len);
  }
  return ::close(fd) == 0 && ok;
}

QUOR_REGISTER_INSTRUCTION(3, Constant);
