#include "instructions/convert.h"

#include <algorithm>
#include <cmath>

#include "core/registry.h"
#include "instructions/common.h"

namespace {

// The transformed raw value t of the fit and of the conversion; false when
// the logarithm is undefined (a raw value of 0 or below).
bool transform(u8 function, double v, double& t) {
  if (function == Convert::Normal) {
    t = v;
    return true;
  }
  if (!(v > 0.0)) return false;
  t = function == Convert::Log10 ? std::log10(v) : std::log(v);
  return true;
}

// Cells never take a non-finite value from this instruction.
float finite_or_overflow(float v) { return std::isfinite(v) ? v : OVERFLOW_VALUE; }

}  // namespace

const RowTable<Convert> Convert::rows{
    {
        rows::ref<&Convert::input_>("Input"),
        rows::ref<&Convert::result_>("Result"),
        rows::custom<Convert>(
            "Select function~Normal~log-10~log-e", ptype::Select,
            [](Convert& o, u16, Iparam& p, const Row<Convert>&) { p.value = o.function_; },
            &Convert::set_function),
        rows::custom<Convert>(
            "Poly degree", ptype::Dec,
            [](Convert& o, u16, Iparam& p, const Row<Convert>&) { p.value = o.degree_; },
            &Convert::set_degree),
        inst::block_ref<&Convert::raw_, BLOCK - 1>("Raw Data"),
        inst::block_ref<&Convert::converted_, BLOCK - 1>("Converted Data"),
        inst::block_ref<&Convert::coefficients_, BLOCK - 1>("Calculated Coefficients"),
        inst::block_ref<&Convert::errors_, BLOCK - 1>("Error Data"),
        inst::block_ref<&Convert::control_, 4>("Control"),
    },
    {
        rows::gnum<&Convert::pairs_, &Pair::c>("Conversion coefficient", ptype::Float),
        rows::gnum<&Convert::pairs_, &Pair::x>("Input value", ptype::Float, 0, 0, &Convert::refit),
        rows::gnum<&Convert::pairs_, &Pair::y>("Converted value", ptype::Float, 0, 0,
                                               &Convert::refit),
    }};

Convert::Convert(Control* prev, const char* desc, u16 n) : WithRows(prev, desc) {
  pairs_.reserve(MAX_PAIRS);
  // The degree starts at the requested size and is lowered to what the
  // pairs and the fit allow.
  degree_ = static_cast<u8>(std::clamp<u16>(n, 1, MAX_PAIRS));
  resize(n);
}

bool Convert::set_function(Convert& o, u16, const Iparam& p, const Row<Convert>&) {
  o.function_ = p.value <= LogE ? static_cast<u8>(p.value) : u8(Normal);
  return true;
}

bool Convert::set_degree(Convert& o, u16, const Iparam& p, const Row<Convert>&) {
  o.degree_ = static_cast<u8>(std::min<u32>(p.value, 255));
  o.clamp_degree();
  return true;
}

// 0 becomes 1; more than n-1 becomes n-1; more than 7 becomes 7.
void Convert::clamp_degree() {
  const u16 n = group_count();
  if (degree_ == 0) degree_ = 1;
  if (degree_ > n - 1) degree_ = static_cast<u8>(n - 1);
  if (degree_ > MAX_DEGREE) degree_ = MAX_DEGREE;
}

// The degree is kept within what its own row accepts (at most n - 1), so
// that a saved program loads with the degree it showed.
bool Convert::resize(u16 n) {
  n = std::clamp<u16>(n, MIN_PAIRS, MAX_PAIRS);
  pairs_.resize(n);  // kept pairs keep their values, new ones are zero
  clamp_degree();
  return true;
}

float Convert::conversion(float v) {
  double t0;
  if (!transform(function_, v, t0)) return OVERFLOW_VALUE;
  const float t = static_cast<float>(t0);
  float sum = 0.0f, power = 1.0f;
  for (const Pair& p : pairs_) {
    sum += p.c * power;
    power *= t;
  }
  return finite_or_overflow(sum);
}

void Convert::coeff() {
  const u16 n = group_count();
  if (degree_ > n - 1) degree_ = static_cast<u8>(n - 1);
  const int d = degree_;

  // The pairs taking part, in the space of the fit. Pairs whose logarithm
  // is undefined are left out.
  double xs[MAX_PAIRS], ys[MAX_PAIRS];
  int m = 0;
  bool all_zero = true;
  for (const Pair& p : pairs_) {
    double t;
    if (!transform(function_, p.x, t)) continue;
    xs[m] = t;
    ys[m] = p.y;
    if (t != 0.0) all_zero = false;
    ++m;
  }
  if (m == 0 || all_zero) return;

  // Normal equations A c = B with A(j,k) = S(j+k), S(k) = sum of x^k.
  double S[2 * MAX_DEGREE + 1]{};
  double A[MAX_DEGREE + 1][MAX_DEGREE + 1], B[MAX_DEGREE + 1]{};
  S[0] = m;
  for (int i = 0; i < m; ++i) {
    double pw = 1.0;
    for (int k = 0; k <= 2 * d; ++k) {
      if (k > 0) S[k] += pw;
      if (k <= d) B[k] += ys[i] * pw;
      pw *= xs[i];
    }
  }
  for (int j = 0; j <= d; ++j)
    for (int k = 0; k <= d; ++k) A[j][k] = S[j + k];

  auto zero_all = [this] {
    for (Pair& p : pairs_) p.c = 0.0f;
  };
  // Gaussian elimination with partial pivoting (first row on ties).
  for (int i = 0; i < d; ++i) {
    int piv = i;
    for (int r = i + 1; r <= d; ++r)
      if (std::fabs(A[r][i]) > std::fabs(A[piv][i])) piv = r;
    if (piv != i) {
      for (int k = 0; k <= d; ++k) std::swap(A[i][k], A[piv][k]);
      std::swap(B[i], B[piv]);
    }
    if (A[i][i] == 0.0) return zero_all();
    for (int r = i + 1; r <= d; ++r) {
      const double f = A[r][i] / A[i][i];
      for (int k = i; k <= d; ++k) A[r][k] -= f * A[i][k];
      B[r] -= f * B[i];
    }
  }
  if (A[d][d] == 0.0) return zero_all();

  double c[MAX_DEGREE + 1];
  c[d] = B[d] / A[d][d];
  for (int j = d - 1; j >= 0; --j) {
    double s = B[j];
    for (int k = j + 1; k <= d; ++k) s -= A[j][k] * c[k];
    c[j] = s / A[j][j];
    if (std::fabs(c[j]) < 1e-10) c[j] = 0.0;
  }
  // A fit that overflows (huge raw values, a near-singular matrix) is no
  // fit: no coefficient may be a non-finite value.
  for (int j = 0; j <= d; ++j)
    if (!std::isfinite(static_cast<float>(c[j]))) return zero_all();
  for (int j = 0; j <= d; ++j) pairs_[j].c = static_cast<float>(c[j]);
}

void Convert::commanded_fit() {
  resize(static_cast<u16>(std::min<u32>(saturate<u32>(control_.get(2)), MAX_PAIRS)));
  degree_ = static_cast<u8>(std::min<u32>(saturate<u32>(control_.get(1)), 255));
  const u32 f = saturate<u32>(control_.get(3));
  function_ = f <= LogE ? static_cast<u8>(f) : u8(Normal);
  clamp_degree();

  const u16 n = group_count();
  for (u16 i = 0; i < n; ++i) {
    pairs_[i].x = raw_.get(i);
    pairs_[i].y = converted_.get(i);
  }
  coeff();
  float max_error = 0.0f;
  for (u16 i = 0; i < BLOCK; ++i) {
    coefficients_.set(i, i <= degree_ ? pairs_[i].c : 0.0f);
    float e = 0.0f;
    if (i < n) {
      e = finite_or_overflow(conversion(pairs_[i].x) - pairs_[i].y);
      if (std::fabs(e) > max_error) max_error = std::fabs(e);
    }
    errors_.set(i, e);
  }
  control_.set(4, max_error);
  control_.set(0, 0.0f);
}

Control* Convert::execute() {
  if (raw_.var && converted_.var && coefficients_.var && errors_.var && control_.var &&
      control_.get(0) != 0.0f)
    commanded_fit();
  if (input_.var && result_.var) result_.set(conversion(input_.get()));
  return next;
}

QUOR_REGISTER_INSTRUCTION(1, Convert);
