#include "instructions/arrays.h"

#include <algorithm>

#include "core/registry.h"
#include "instructions/common.h"

namespace {

// Copies n cells from cell `from_off` after reference `from` to cell
// `to_off` after reference `to`, stopping where either variable ends.
void copy_cells(const pIdata& from, u32 from_off, const pIdata& to, u32 to_off, u32 n) {
  const u32 a = from.index + from_off, b = to.index + to_off;
  if (a > from.var->size || b > to.var->size) return;
  n = std::min({n, from.var->size - a + 1, to.var->size - b + 1});
  for (u32 i = 0; i < n; ++i)
    to.var->set(static_cast<u16>(b + i), from.var->get(static_cast<u16>(a + i)));
}

}  // namespace

// ---- Map -----------------------------------------------------------------

const RowTable<Map> Map::rows{
    {
        rows::ref<&Map::array_>("Array", [](Map& o, u16) { o.revalidate(); }),
        rows::num<&Map::direction_>("Direction~To array~From array", ptype::Select, 0, FromArray),
    },
    {
        rows::gref<&Map::entries_, &Entry::individual>("Individual"),
        // Any length; an absent or empty text leaves no description.
        rows::custom<Map>(
            "Description", ptype::Text,
            [](Map& o, u16 g, Iparam& p, const Row<Map>&) {
              p.text = o.entries_[g - 1].description.c_str();
            },
            [](Map& o, u16 g, const Iparam& p, const Row<Map>&) {
              o.entries_[g - 1].description = p.text ? p.text : "";
              return true;
            }),
    }};

Map::Map(Control* prev, const char* desc, u16 n) : WithRows(prev, desc) { resize(n); }

bool Map::resize(u16 n) {
  entries_.resize(std::clamp<u16>(n, 1, ARRAY_MAX_GROUPS));
  revalidate();
  return true;
}

void Map::revalidate() {
  if (array_.var) revalidate_block(array_, static_cast<u16>(entries_.size() - 1));
}

Control* Map::execute() {
  if (!array_.var) return next;
  for (u16 i = 0; i < entries_.size(); ++i) {
    const pIdata& ind = entries_[i].individual;
    if (!ind.var) continue;
    if (direction_ == FromArray)
      ind.set(array_.get(i));
    else
      array_.set(i, ind.get());
  }
  return next;
}

QUOR_REGISTER_INSTRUCTION(17, Map);

// ---- Translate -----------------------------------------------------------

const RowTable<Translate> Translate::rows{
    {
        rows::ref<&Translate::input_>("Input"),
        rows::ref<&Translate::result_>("Result"),
        rows::custom<Translate>(
            "Direction~Count to random~Random to count", ptype::Select,
            [](Translate& o, u16, Iparam& p, const Row<Translate>&) { p.value = o.direction_; },
            [](Translate& o, u16, const Iparam& p, const Row<Translate>&) {
              o.direction_ = p.value == 0 ? CountToRandom : RandomToCount;
              return true;
            }),
    },
    {
        rows::gnum<&Translate::entries_, &Entry::match>("Random match", ptype::Hex),
    }};

Translate::Translate(Control* prev, const char* desc, u16 n) : WithRows(prev, desc) { resize(n); }

bool Translate::resize(u16 n) {
  entries_.resize(std::clamp<u16>(n, 1, ARRAY_MAX_GROUPS));
  return true;
}

Control* Translate::execute() {
  if (!input_.var || !result_.var) return next;
  const u32 k = saturate<u32>(input_.get());
  const u32 n = static_cast<u32>(entries_.size());
  u32 r;
  if (direction_ == CountToRandom) {
    r = k < n ? entries_[k].match : 0;
  } else {
    r = n;
    for (u32 i = 0; i < n; ++i)
      if (entries_[i].match == k) {
        r = i;
        break;
      }
  }
  result_.set(static_cast<float>(r));
  return next;
}

QUOR_REGISTER_INSTRUCTION(26, Translate);

// ---- Lookup --------------------------------------------------------------

const RowTable<Lookup> Lookup::rows{
    {
        rows::ref<&Lookup::input_>("Input"),
        rows::ref<&Lookup::result_>("Result"),
    },
    {
        rows::gnum<&Lookup::pairs_, &Pair::raw>("Raw", ptype::Float),
        rows::gnum<&Lookup::pairs_, &Pair::converted>("Converted", ptype::Float),
    }};

Lookup::Lookup(Control* prev, const char* desc, u16 n) : WithRows(prev, desc) { resize(n); }

bool Lookup::resize(u16 n) {
  pairs_.resize(std::clamp<u16>(n, 2, ARRAY_MAX_GROUPS));
  return true;
}

Control* Lookup::execute() {
  if (!input_.var || !result_.var) return next;
  const float x = input_.get();
  for (size_t i = 0; i + 1 < pairs_.size(); ++i) {
    const Pair &lo = pairs_[i], &hi = pairs_[i + 1];
    if (!(lo.raw <= x && x <= hi.raw)) continue;
    // The first segment that holds x is used; a vertical one writes nothing.
    if (hi.raw != lo.raw) {
      const float slope = (hi.converted - lo.converted) / (hi.raw - lo.raw);
      const float offset = lo.converted - slope * lo.raw;
      result_.set(x * slope + offset);
    }
    break;
  }
  return next;
}

QUOR_REGISTER_INSTRUCTION(29, Lookup);

// ---- Fan -----------------------------------------------------------------

const RowTable<Fan> Fan::rows{{
    rows::ref<&Fan::source_>("Source", [](Fan& o, u16) { o.revalidate(); }),
    rows::ref<&Fan::destination_>("Destination", [](Fan& o, u16) { o.revalidate(); }),
    rows::ref<&Fan::count_index_>("Count index"),
    rows::ref<&Fan::time_index_>("Time index"),
    rows::ref<&Fan::time_def_>("Time def"),
    rows::ref<&Fan::last_period_>("Last period"),
    rows::num<&Fan::block_size_>("Block size", ptype::Dec, 0, 65535,
                                 [](Fan& o, u16) { o.revalidate(); }),
    rows::num<&Fan::blocks_>("Number of blocks", ptype::Dec, 0, 65535,
                             [](Fan& o, u16) { o.revalidate(); }),
    rows::num<&Fan::direction_>(
        "Direction~Multiple sources to one destination~One source to multiple destinations",
        ptype::Select, 0, OneToMany, [](Fan& o, u16) { o.revalidate(); }),
}};

Fan::Fan(Control* prev, const char* desc, u16) : WithRows(prev, desc) {}

// The side with several blocks spans B*K cells, the other B; a span never
// reaches past index 65535.
void Fan::revalidate() {
  const u32 single = std::max<u32>(block_size_, 1);
  const u32 many = std::clamp<u32>(u32(block_size_) * blocks_, 1, 65536);
  const u32 src = direction_ == ManyToOne ? many : single;
  const u32 dst = direction_ == ManyToOne ? single : many;
  if (source_.var) revalidate_block(source_, static_cast<u16>(src - 1));
  if (destination_.var) revalidate_block(destination_, static_cast<u16>(dst - 1));
}

u16 Fan::select_block() {
  u32 block = 0;
  if (time_index_.var && time_def_.var) {
    const float t = time_index_.get();
    float acc = 0.0f;
    const u32 elements =
        time_def_.var->size >= time_def_.index ? u32(time_def_.var->size) - time_def_.index + 1 : 0;
    block = elements;  // beyond every sum
    for (u32 k = 0; k < elements; ++k) {
      acc += time_def_.get(static_cast<u16>(k));
      if (t <= acc) {
        if (t == acc) last_period_.set(1.0f);
        block = k;
        break;
      }
    }
  } else if (count_index_.var) {
    block = saturate<u32>(count_index_.get());
  }
  return static_cast<u16>(std::min<u32>(block, blocks_ - 1u));
}

Control* Fan::execute() {
  if (!source_.var || !destination_.var) return next;
  last_period_.set(0.0f);
  if (block_size_ == 0 || blocks_ == 0) return next;  // nothing to copy
  const u32 offset = u32(select_block()) * block_size_;
  if (direction_ == ManyToOne)
    copy_cells(source_, offset, destination_, 0, block_size_);
  else
    copy_cells(source_, 0, destination_, offset, block_size_);
  return next;
}

QUOR_REGISTER_INSTRUCTION(13, Fan);
