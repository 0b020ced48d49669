// The two graphs: Graph_vars plots up to five variables, Graph_bins/events
// the bins of a periodic file or the events of an event file. Both scale
// between a minimum and a maximum that are constants or variables.
#include <cstdlib>
#include <cstring>

#include "core/engine.h"
#include "hmi/hmi_rows.h"
#include "hmi/hmi_types.h"

// ---- scale ---------------------------------------------------------------

void Graf::get_limit(bool upper, Iparam& p) const {
  if (kind) {
    const std::string& t = upper ? max_text : min_text;
    p.type = ptype::Text;
    p.text = t.empty() ? nullptr : t.c_str();
  } else {
    p.type = ptype::Float;
    p.value = float_bits(upper ? max : min);
  }
}


bool Graf::set_limit(bool upper, const Iparam& p, Module* m) {
  float& value = upper ? max : min;
  pIdata& ref = upper ? max_var : min_var;
  std::string& text = upper ? max_text : min_text;
  const float fallback = upper ? 100.0f : 0.0f;
  if (p.type == ptype::Float) {
    value = bits_float(p.value);
    return true;
  }
  size_t n = p.text ? std::strlen(p.text) : 0;
  if (n > 256) return false;
  text.assign(p.text ? p.text : "", n);
  ref = pIdata{};
  if (text.empty() || text == "Null") {
    text.clear();
    value = fallback;
    return true;
  }
  // A variable (made when missing, like every reference of a screen), else
  // a number.
  if (hmi_resolve(m, text.c_str(), &ref, true) && ref.var) {
    value = ref.get();
    return true;
  }
  char* end = nullptr;
  float f = std::strtof(text.c_str(), &end);
  if (end != text.c_str()) {
    value = f;
    return true;
  }
  text.clear();
  value = fallback;
  return false;
}

void Graf::refresh() {
  if (!kind) return;
  if (min_var.var) min = min_var.get();
  if (max_var.var) max = max_var.get();
}

namespace {

template <class T, bool Upper>
Row<T> limit(const char* label) {
  return rows::custom<T>(
      label, ptype::Float, [](T& o, u16, Iparam& p, const Row<T>&) { o.get_limit(Upper, p); },
      [](T& o, u16, const Iparam& p, const Row<T>&) { return o.set_limit(Upper, p, o.module); }, ptype::Text);
}

const char* const kInterval = "Interval~5M/1S~10M/2S~30M/5S~1H/10S~2H/20S~4H/1M~8H/2M~1D/5M~2D/10M~7D/1H";
const char* const kKind = "Max/Min Type~Constant~Variable";

template <int K>
Row<Grafv> var_row(const char* label) {
  return rows::custom<Grafv>(
      label, ptype::Ref, [](Grafv& o, u16, Iparam& p, const Row<Grafv>&) { p.ref = o.vars[K]; },
      [](Grafv& o, u16, const Iparam& p, const Row<Grafv>&) {
        o.vars[K] = p.ref;
        return true;
      });
}

template <int K>
Row<Grafv> caption_row(const char* label) {
  return rows::custom<Grafv>(
      label, ptype::Text,
      [](Grafv& o, u16, Iparam& p, const Row<Grafv>&) {
        o.caption_out[K] = o.caption(K);
        p.text = o.caption_out[K].c_str();
      },
      [](Grafv& o, u16, const Iparam& p, const Row<Grafv>&) {
        o.set_caption(K, p.text);
        return true;
      });
}

template <int K>
Row<Grafb> bin_row() {
  return rows::custom<Grafb>(
      "Bin/Event", ptype::Dec, [](Grafb& o, u16, Iparam& p, const Row<Grafb>&) { p.value = o.bins[K]; },
      [](Grafb& o, u16, const Iparam& p, const Row<Grafb>&) {
        o.bins[K] = p.value > 1024 ? 0 : u16(p.value);
        return true;
      });
}

}  // namespace

// ---- Graph_vars ------------------------------------------------------------

const RowTable<Grafv> Grafv::rows{hrows::with_base<Grafv>(
    "Security (1-255)",
    {
        hrows::small<Grafv, &Graf::decimals>("Dec pt or Digital~0~1~2~3~4~5~Digital 1~Digital 2", ptype::Select, 0,
                                             7, ptype::Dec),
        limit<Grafv, false>("Min val"),
        limit<Grafv, true>("Max val"),
        hrows::small<Grafv, &Graf::interval>(kInterval, ptype::Select, 0, 9),
        var_row<0>("Variable 1"),
        var_row<1>("Var 2"),
        var_row<2>("Var 3"),
        var_row<3>("Var 4"),
        var_row<4>("Var 5"),
        caption_row<0>("Caption 1"),
        caption_row<1>("Cap 2"),
        caption_row<2>("Cap 3"),
        caption_row<3>("Cap 4"),
        caption_row<4>("Cap 5"),
        hrows::small<Grafv, &Graf::kind, hrows::Fit::Flag>(kKind, ptype::Select, 0, 1),
    })};

namespace {
constexpr size_t kCaption = 47;       // characters of one caption
constexpr size_t kField = kCaption + 1;  // with its "~"
}  // namespace

std::string Grafv::caption(int k) const {
  if (captions.size() < k * kField + kCaption) return {};
  std::string c = captions.substr(k * kField, kCaption);
  c.erase(c.find_last_not_of(' ') + 1);
  return c;
}

void Grafv::set_caption(int k, const char* text) {
  if (captions.empty()) {
    if (!text || !*text) return;
    captions.assign(5 * kField - 1, ' ');
    for (int j = 1; j < 5; ++j) captions[j * kField - 1] = '~';
  }
  std::string c(text ? text : "", text ? strnlen(text, kCaption) : 0);
  c.resize(kCaption, ' ');
  captions.replace(k * kField, kCaption, c);
}

bool Grafv::gexec(Iparam* p) {
  p->value = 0;
  p->type = ptype::GraphVars;
  p->ref.index = decimals;
  p->text = nullptr;
  return true;
}

bool Grafv::gexeci(Iparam* p) {
  gexec(p);
  refresh();
  p->arr[0] = float_bits(min);
  p->arr[1] = float_bits(max);
  p->arr[2] = interval;
  p->count = 3;
  p->text = captions.empty() ? nullptr : captions.c_str();
  return true;
}

bool Grafv::gexecv(Iparam* p) {
  p->value = timec.load(std::memory_order_relaxed);
  p->count = 5;
  for (int k = 0; k < 5; ++k) p->arr[k] = vars[k].var ? float_bits(vars[k].get()) : OVERFLOW_BITS;
  return true;
}

// ---- Graph_bins/events -----------------------------------------------------

const RowTable<Grafb> Grafb::rows{hrows::with_base<Grafb>(
    "Security (1-255)",
    {
        hrows::small<Grafb, &Graf::decimals>("Periodic/Event file~None~1~2~3~4", ptype::Select, 0, 4),
        limit<Grafb, false>("Min val"),
        limit<Grafb, true>("Max val"),
        hrows::small<Grafb, &Graf::interval>(kInterval, ptype::Select, 0, 9),
        bin_row<0>(),
        bin_row<1>(),
        bin_row<2>(),
        bin_row<3>(),
        bin_row<4>(),
        hrows::small<Grafb, &Graf::kind, hrows::Fit::Flag>(kKind, ptype::Select, 0, 1),
        hrows::small<Grafb, &Grafb::graph_type>("Graph Type~Periodic~Event", ptype::Select, 0, 1),
    })};

bool Grafb::gexec(Iparam* p) {
  p->value = 0;
  p->type = ptype::GraphBins;
  p->ref.index = decimals;
  p->text = nullptr;
  return true;
}

bool Grafb::gexeci(Iparam* p) {
  gexec(p);
  refresh();
  p->arr[0] = float_bits(min);
  p->arr[1] = float_bits(max);
  p->arr[2] = interval;
  for (int k = 0; k < 5; ++k) p->arr[3 + k] = bins[k];
  p->arr[8] = graph_type;
  p->count = 9;
  return true;
}

bool Grafb::gexecv(Iparam* p) {
  p->value = timec.load(std::memory_order_relaxed);
  return true;
}
