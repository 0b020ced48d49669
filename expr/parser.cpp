#include "expr/parser.h"

#include <cfloat>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "expr/math.h"
#include "expr/names.h"

namespace {

struct Named {
  const char* name;
  u16 code;
};

// Functions of one argument: name(x).
const Named kFunctions[] = {
    {"logical", op::Logical}, {"bool", op::Bool},     {"fuzzy", op::Fuzzy},
    {"compl", op::Compl},     {"compb", op::Compb},   {"compf", op::Compf},
    {"abs", op::Abs},         {"neg", op::Neg},       {"inv", op::Inv},
    {"ceil", op::Ceil},       {"floor", op::Floor},   {"sqrt", op::Sqrt},
    {"exp", op::Exp},         {"log", op::Log},       {"log10", op::Log10},
    {"sin", op::Sin},         {"cos", op::Cos},       {"tan", op::Tan},
    {"asin", op::Asin},       {"acos", op::Acos},     {"atan", op::Atan},
    {"year", op::Year},       {"month", op::Month},   {"day", op::Day},
    {"dow", op::Dow},         {"hour", op::Hour},     {"minute", op::Minute},
    {"second", op::Second},   {"hbit", op::Hbit},     {"lbit", op::Lbit},
    {"inb", op::Inb},         {"in2b", op::In2b},
};

// Functions of two arguments, written between them in quotes: a 'max' b.
const Named kQuoted[] = {
    {"orider", op::Orider}, {"oridel", op::Oridel}, {"min", op::Min},   {"max", op::Max},
    {"pow", op::Pow},       {"atan2", op::Atan2},   {"outb", op::Outb}, {"out2b", op::Out2b},
    {"loopz", op::Loopz},   {"loopnz", op::Loopnz}, {"if", op::If},     {"vpd", op::Vpd},
    {"dp", op::Dp},
};
constexpr size_t kLongestQuoted = 6;  // "orider", "oridel", "loopnz"

template <size_t N>
u16 lookup(const Named (&table)[N], std::string_view name) {
  for (const auto& e : table)
    if (name == e.name) return e.code;
  return 0;
}

bool digit(char c) { return c >= '0' && c <= '9'; }
bool letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
int hex_value(char c) {
  if (digit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A literal as a pool reference; false when the pool is full or missing.
bool constant(double v, pIdata* ref) {
  float f = v > double(FLT_MAX) ? OVERFLOW_VALUE : float(v);
  make_constant(f, ref);
  return ref->var != nullptr;
}

int parse_number(const char* text, pIdata* ref) {
  if (text[1] == 'x' || text[1] == 'X') {
    int i = 2;
    u32 v = 0;
    for (int h; (h = hex_value(text[i])) >= 0; ++i) {
      if (i - 2 == 6) return 0;  // a seventh digit
      v = v * 16 + u32(h);
    }
    return constant(double(v), ref) ? i : 0;
  }
  int i = 0;
  bool dot = false, exponent = false, digits = false;
  for (;; ++i) {
    char c = text[i];
    if (digit(c)) {
      digits = true;
    } else if (c == '.') {
      if (dot || exponent) return 0;
      dot = true;
    } else if (c == 'e' || c == 'E') {
      if (exponent || !digits) return 0;
      exponent = true;
      if (text[i + 1] == '-') ++i;
      if (!digit(text[i + 1])) return 0;
    } else {
      break;
    }
  }
  if (!digits) return 0;  // a lone "."
  std::string s(text, size_t(i));
  return constant(std::strtod(s.c_str(), nullptr), ref) ? i : 0;
}

// An operator at text[i]: its code and the index of its last character;
// code 0 for none. A lone "=" gives code 0 and *bad_equal.
u16 read_operator(const char* text, int i, int* last, bool* bad_equal) {
  char c = text[i], n = c ? text[i + 1] : 0;
  *last = i;
  *bad_equal = false;
  auto two = [&](u16 code) {
    *last = i + 1;
    return code;
  };
  switch (c) {
    case '+': return op::Add;
    case '-': return op::Sub;
    case '*': return op::Mul;
    case '/': return op::Div;
    case '%': return op::Mod;
    case ':': return n == ':' ? two(op::LogOr) : n == '>' ? two(op::FuzzyOr) : op::Or;
    case '&': return n == '&' ? two(op::LogAnd) : n == '>' ? two(op::FuzzyAnd) : op::And;
    case '^': return n == '>' ? two(op::FuzzyXor) : op::Xor;
    case '=':
      if (n == '=') return two(op::Eq);
      *bad_equal = true;
      return 0;
    case '!': return n == '=' ? two(op::Ne) : 0;  // else a system-scope name
    case '<': return n == '=' ? two(op::Le) : n == '<' ? two(op::Shl) : op::Lt;
    case '>': return n == '=' ? two(op::Ge) : n == '>' ? two(op::Shr) : op::Gt;
    default: return 0;
  }
}

}  // namespace

void step_shift(std::span<Mstep> steps, int at, int count) {
  if (at < 0 || count < 0 || size_t(at) + size_t(count) >= steps.size()) return;
  for (int k = at + count; k > at; --k) steps[k] = steps[k - 1];
  steps[at] = Mstep{};
}

int parse_cvf(const char* text, pIdata* ref, int* func) {
  *ref = pIdata{};
  *func = 0;
  char c = text[0];
  if (!c) return 0;
  if (digit(c) || c == '.') return parse_number(text, ref);
  int i = 1;
  while (letter(text[i]) || digit(text[i]) || text[i] == '_' || text[i] == '[' || text[i] == ']')
    ++i;
  std::string name(text, size_t(i));
  if (text[i] == '(') {
    *func = lookup(kFunctions, name);
    return *func ? i + 1 : 0;
  }
  // "Null" resolves to no cell: not an operand.
  return var_name(name.c_str(), ref, true) && ref->var ? i : 0;
}

int expression_parse(std::span<Mstep, PARSE_STEPS> steps, const char* text) {
  if (!Exp_tmp.var && !var_name("!Exp_tmp[127]", &Exp_tmp, true)) return 0;
  Ivar* T = Exp_tmp.var;
  auto tmp = [T](int k) { return pIdata{T, u16(k)}; };
  const int end = int(std::strlen(text));

  int cur = 0, depth = 0, i = 0;
  steps[0] = Mstep{};
  for (;;) {
    while (text[i] == ' ') ++i;
    char c = text[i];
    if (!c) break;

    if (c == '(') {
      if (depth == MAX_DEPTH) return -i;
      if (steps[cur].arg1.var && !steps[cur].op) return -i;
      ++depth;
      step_shift(steps, cur, depth);
      ++i;
      continue;
    }

    int last;
    bool bad_equal;
    u16 code = read_operator(text, i, &last, &bad_equal);
    if (bad_equal) return -(i + 1);
    if (!code && c == '\'') {
      int j = i + 1;
      while (text[j] && text[j] != '\'') {
        if (size_t(j - i - 1) == kLongestQuoted) return -j;
        ++j;
      }
      if (!text[j]) return -j;  // no closing quote
      code = lookup(kQuoted, std::string_view(text + i + 1, size_t(j - i - 1)));
      if (!code) return -j;
      last = j;
    }
    if (code) {
      if (steps[cur].op || !steps[cur].arg1.var) return -last;
      steps[cur].op = code;
      i = last + 1;
      continue;
    }

    // An operand. No valid formula reaches this with cur + depth above the
    // step limit, which also keeps every index below well inside steps.
    const int start = i;
    if (cur + depth > MAX_STEPS) return -start;
    pIdata ref;
    int func;
    int n = parse_cvf(text + i, &ref, &func);
    if (n == 0) return -start;
    i += n;
    if (func) {
      step_shift(steps, cur, depth + 1);
      pIdata arg;
      int f2;
      int m = parse_cvf(text + i, &arg, &f2);
      if (m == 0 || f2) return -i;
      i += m;
      if (text[i] != ')') return -i;
      ++i;
      steps[cur].op = u16(func);
      steps[cur].arg1 = steps[cur].arg2 = arg;
      ref = tmp(cur);
      ++cur;
    }
    if (!steps[cur].arg1.var) {
      steps[cur].arg1 = ref;
    } else {
      if (!steps[cur].op) return -i;  // an operand right after another
      steps[cur].arg2 = ref;
      for (;;) {
        int j = i;
        while (text[j] == ' ') ++j;
        if (text[j] != ')') break;
        if (depth == 0) return -j;
        if (!steps[cur].arg2.var) steps[cur].arg2 = steps[cur].arg1;  // (( )) copies
        --depth;
        ++cur;
        if (steps[cur].arg1.var)
          steps[cur].arg2 = tmp(cur - 1);
        else
          steps[cur].arg1 = tmp(cur - 1);
        i = j + 1;
      }
      // A finished step is chained: its result opens the next one.
      if (steps[cur].arg2.var) {
        ++cur;
        step_shift(steps, cur, depth);
        steps[cur].arg1 = tmp(cur - 1);
      }
    }
    // Steps below cur are final, every open group still makes one, and so
    // does the current step unless it holds only the last result.
    bool open_tail = cur > 0 && !steps[cur].op && !steps[cur].arg2.var &&
                     steps[cur].arg1 == tmp(cur - 1);
    if (cur + depth + (open_tail ? 0 : 1) > MAX_STEPS) return -start;
  }

  if (depth != 0 || steps[cur].op) return -end;
  if (cur > 0) return cur <= MAX_STEPS ? cur : -end;
  if (!steps[0].arg1.var) return 0;  // only blanks
  steps[0].arg2 = steps[0].arg1;
  return 1;
}
