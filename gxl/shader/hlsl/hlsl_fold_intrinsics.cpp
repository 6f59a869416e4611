// Folding of intrinsic calls with literal arguments, in doubles, with the
// domain errors of the functions that have them.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "gxl/shader/hlsl/hlsl_parser.h"

namespace gxl::shader {
namespace {

struct Argument {
  std::vector<double> v;
  std::uint32_t rows = 1;
  std::uint32_t columns = 1;

  double operator[](std::size_t i) const { return v.size() == 1 ? v[0] : v[i]; }
};

double Dot(const Argument& a, const Argument& b) {
  double sum = 0.0;
  for (std::size_t i = 0; i < a.v.size(); ++i) sum += a[i] * b[i];
  return sum;
}

// The determinant by cofactor expansion along the first row.
double Determinant(const std::vector<double>& m, std::uint32_t n) {
  if (n == 1) return m[0];
  double sum = 0.0;
  for (std::uint32_t column = 0; column < n; ++column) {
    std::vector<double> minor;
    for (std::uint32_t r = 1; r < n; ++r)
      for (std::uint32_t c = 0; c < n; ++c)
        if (c != column) minor.push_back(m[r * n + c]);
    sum += (column % 2 ? -1.0 : 1.0) * m[column] * Determinant(minor, n - 1);
  }
  return sum;
}

// Rows and columns of an argument's type: a vector is one row.
void ShapeOf(const ParseNode* type, Argument* a) {
  const TypeNode* t = AsTypeNode(type);
  if (!t) return;
  a->rows = t->shape == kShapeMatrix ? t->rows : 1;
  a->columns = t->shape == kShapeVector || t->shape == kShapeMatrix ? t->columns : 1;
}

}  // namespace

HRESULT HlslParser::FoldIntrinsicCall(const ParseNodeKind13* call, FoldedValue* out) {
  const ParseNode* function = call->left;
  if (!function || function->kind != NodeKind::Expression || !call->right) return E_FAIL;
  const auto* row = static_cast<const IntrinsicRecord*>(static_cast<const ExpressionNode*>(function)->value.address);
  std::vector<Argument> args;
  for (const ParseNode* c = call->right->first; c && c->kind == NodeKind::List; c = c->second) {
    FoldedValue value;
    if (FAILED(FoldOperands(c->first, &value))) return E_FAIL;
    Argument a;
    for (const FoldedComponent& component : value) a.v.push_back(ComponentToDouble(component));
    ShapeOf(static_cast<const ParseNodeKind13*>(c->first)->type, &a);
    if (a.v.empty()) return E_FAIL;
    args.push_back(std::move(a));
  }
  std::vector<std::uint32_t> kinds;
  {
    TypeComponentWalker walker(call->type);
    ScalarComponent c;
    while (walker.Next(&c)) kinds.push_back(ComponentKindOfBase(c.base));
  }
  const std::size_t count = kinds.size();
  if (count == 0 || args.size() != row->ParameterCount()) return E_FAIL;
  std::vector<double> r(count, 0.0);
  const Argument& a = args[0];
  auto at = [&](std::size_t k, std::size_t i) { return args[k][i]; };
  auto each = [&](auto f) {
    for (std::size_t i = 0; i < count; ++i) r[i] = f(i);
  };
  bool domain = false;  // one message per call
  auto report = [&](const Message& entry) {
    // Chosen at run time, so passed as text: these entries take no arguments.
    if (!domain) Report(&call->token, entry.severity, entry.code, "%s", entry.format);
    domain = true;
  };

  const std::uint32_t id = row->id;
  switch (id) {
    case kIntrinsicAbs:
      each([&](std::size_t i) { return std::fabs(a[i]); });
      break;
    case kIntrinsicAcos:
    case kIntrinsicAsin:
      each([&](std::size_t i) {
        if (std::fabs(a[i]) > 1.0) report(id == kIntrinsicAcos ? msg::kFoldIndefiniteAcos : msg::kFoldIndefiniteAsin);
        return id == kIntrinsicAcos ? std::acos(a[i]) : std::asin(a[i]);
      });
      break;
    case kIntrinsicAll:
    case kIntrinsicAny: {
      std::size_t nonZero = 0;
      for (double x : a.v) nonZero += x != 0.0;
      r[0] = id == kIntrinsicAll ? nonZero == a.v.size() : nonZero > 0;
      break;
    }
    case kIntrinsicAtan:
      each([&](std::size_t i) { return std::atan(a[i]); });
      break;
    case kIntrinsicAtan2:
      each([&](std::size_t i) { return std::atan2(a[i], at(1, i)); });
      break;
    case kIntrinsicCeil:
      each([&](std::size_t i) { return std::ceil(a[i]); });
      break;
    case kIntrinsicFloor:
      each([&](std::size_t i) { return std::floor(a[i]); });
      break;
    case kIntrinsicClamp:
      // max(x, min), then min with max, as the code computes it: with min
      // above max the result is max.
      each([&](std::size_t i) {
        const double low = a[i] <= at(1, i) ? at(1, i) : a[i];
        return at(2, i) <= low ? at(2, i) : low;
      });
      break;
    case kIntrinsicCos:
      each([&](std::size_t i) { return std::cos(a[i]); });
      break;
    case kIntrinsicCosh:
      each([&](std::size_t i) { return std::cosh(a[i]); });
      break;
    case kIntrinsicSin:
      each([&](std::size_t i) { return std::sin(a[i]); });
      break;
    case kIntrinsicSinh:
      each([&](std::size_t i) { return std::sinh(a[i]); });
      break;
    case kIntrinsicTan:
      each([&](std::size_t i) { return std::tan(a[i]); });
      break;
    case kIntrinsicTanh:
      each([&](std::size_t i) { return std::tanh(a[i]); });
      break;
    case kIntrinsicExp:
      each([&](std::size_t i) { return std::exp(a[i]); });
      break;
    case kIntrinsicExp2:
      each([&](std::size_t i) { return std::pow(2.0, a[i]); });
      break;
    case kIntrinsicCross: {
      const Argument& b = args[1];
      if (a.v.size() != 3 || b.v.size() != 3 || count != 3) return E_FAIL;
      r = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
      break;
    }
    case kIntrinsicDdx:
    case kIntrinsicDdy:
    case kIntrinsicFwidth:
      break;
    case kIntrinsicDegrees:
      each([&](std::size_t i) { return a[i] * 57.29577791868205; });
      break;
    case kIntrinsicRadians:
      each([&](std::size_t i) { return a[i] * 0.017453293005625408; });
      break;
    case kIntrinsicDeterminant:
      if (a.rows != a.columns || a.rows < 1 || a.rows > 4 || a.v.size() != a.rows * a.columns) return E_FAIL;
      r[0] = Determinant(a.v, a.rows);
      break;
    case kIntrinsicDistance: {
      double sum = 0.0;
      for (std::size_t i = 0; i < a.v.size(); ++i) sum += (a[i] - at(1, i)) * (a[i] - at(1, i));
      r[0] = std::sqrt(sum);
      break;
    }
    case kIntrinsicDot:
      r[0] = Dot(a, args[1]);
      break;
    case kIntrinsicDst:
      if (count != 4 || a.v.size() != 4) return E_FAIL;
      r = {1.0, a[1] * at(1, 1), a[2], at(1, 3)};
      break;
    case kIntrinsicFaceforward: {
      const bool flip = Dot(args[2], args[1]) >= 0.0;
      each([&](std::size_t i) { return flip ? -a[i] : a[i]; });
      break;
    }
    case kIntrinsicFmod:
      each([&](std::size_t i) { return std::fmod(a[i], at(1, i)); });
      break;
    case kIntrinsicFrac:
      each([&](std::size_t i) { return std::isfinite(a[i]) ? a[i] - std::floor(a[i]) : 0.0; });
      break;
    case kIntrinsicIsfinite:
      each([&](std::size_t i) { return std::isfinite(a[i]) ? 1.0 : 0.0; });
      break;
    case kIntrinsicIsinf:
      each([&](std::size_t i) { return std::isfinite(a[i]) ? 0.0 : 1.0; });
      break;
    case kIntrinsicIsnan:
      each([&](std::size_t i) { return std::isnan(a[i]) ? 1.0 : 0.0; });
      break;
    case kIntrinsicLdexp:
      each([&](std::size_t i) { return a[i] * std::pow(2.0, at(1, i)); });
      break;
    case kIntrinsicLength:
      r[0] = std::sqrt(Dot(a, a));
      break;
    case kIntrinsicLerp:
      each([&](std::size_t i) { return (at(1, i) - a[i]) * at(2, i) + a[i]; });
      break;
    case kIntrinsicLit:
      if (count != 4) return E_FAIL;
      r = {1.0, 0.0, 0.0, 1.0};
      if (a[0] > 0.0) {
        r[1] = a[0];
        if (at(1, 0) > 0.0) r[2] = std::pow(at(1, 0), at(2, 0));
      }
      break;
    case kIntrinsicLog:
    case kIntrinsicLog10:
    case kIntrinsicLog2:
      each([&](std::size_t i) {
        if (a[i] <= 0.0) report(msg::kFoldIndefiniteLog);
        const double ln = std::log(a[i]);
        return id == kIntrinsicLog ? ln : ln / (id == kIntrinsicLog10 ? std::log(10.0) : std::log(2.0));
      });
      break;
    case kIntrinsicMax:
      each([&](std::size_t i) { return a[i] <= at(1, i) ? at(1, i) : a[i]; });
      break;
    case kIntrinsicMin:
      each([&](std::size_t i) { return at(1, i) <= a[i] ? at(1, i) : a[i]; });
      break;
    case kIntrinsicNormalize: {
      const double length = std::sqrt(Dot(a, a));
      each([&](std::size_t i) { return length == 0.0 ? 0.0 : a[i] / length; });
      break;
    }
    case kIntrinsicPow:
      each([&](std::size_t i) {
        const double p = std::pow(a[i], at(1, i));
        if (std::isnan(p)) report(msg::kFoldIndefinitePower);
        return p;
      });
      break;
    case kIntrinsicReflect: {
      const double d = Dot(a, args[1]);
      each([&](std::size_t i) { return a[i] - 2.0 * d * at(1, i); });
      break;
    }
    case kIntrinsicRefract: {
      const double d = Dot(a, args[1]), ri = at(2, 0);
      const double k = 1.0 - (1.0 - d * d) * ri * ri;
      each([&](std::size_t i) { return k >= 0.0 ? ri * a[i] - (d * ri + std::sqrt(k)) * at(1, i) : 0.0; });
      break;
    }
    case kIntrinsicRound:
      each([&](std::size_t i) { return std::floor(a[i] + 0.5); });
      break;
    case kIntrinsicRsqrt:
      each([&](std::size_t i) {
        if (a[i] < 0.0) report(msg::kFoldImaginarySquareRoot);
        if (a[i] == 0.0) report(msg::kFoldDivisionByZero);
        return 1.0 / std::sqrt(a[i]);
      });
      break;
    case kIntrinsicSaturate:
      each([&](std::size_t i) { return a[i] < 0.0 ? 0.0 : a[i] > 1.0 ? 1.0 : a[i]; });
      break;
    case kIntrinsicSign:
      each([&](std::size_t i) { return a[i] < 0.0 || std::isnan(a[i]) ? -1.0 : a[i] == 0.0 ? 0.0 : 1.0; });
      break;
    case kIntrinsicSmoothstep:
      // As the code computes it, t = (x - a) / (b - a) clamped to [0, 1], so
      // edges in reverse order fall from 1 to 0; equal edges make a step.
      each([&](std::size_t i) {
        const double lo = a[i], hi = at(1, i), x = at(2, i);
        if (lo == hi) return x < lo ? 0.0 : 1.0;
        const double t = std::clamp((x - lo) / (hi - lo), 0.0, 1.0);
        return 3.0 * t * t - 2.0 * t * t * t;
      });
      break;
    case kIntrinsicSqrt:
      each([&](std::size_t i) {
        if (a[i] < 0.0) report(msg::kFoldImaginarySquareRoot);
        return std::sqrt(a[i]);
      });
      break;
    case kIntrinsicStep:
      each([&](std::size_t i) { return at(1, i) >= a[i] ? 1.0 : 0.0; });
      break;
    case kIntrinsicTranspose:
      if (a.v.size() != std::size_t{a.rows} * a.columns || count != a.v.size()) return E_FAIL;
      for (std::uint32_t i = 0; i < a.rows; ++i)
        for (std::uint32_t j = 0; j < a.columns; ++j) r[j * a.rows + i] = a.v[i * a.columns + j];
      break;
    case kIntrinsicColorToUbyte4:
      if (count != 4 || a.v.size() != 4) return E_FAIL;
      r = {a[2] * 255.001953125, a[1] * 255.001953125, a[0] * 255.001953125, a[3] * 255.001953125};
      break;
    default: {
      if (id < kIntrinsicMulFirst || id > kIntrinsicMulLast) return E_FAIL;  // clip, frexp, modf, noise, sincos, tex
      const Argument& b = args[1];
      if (a.v.size() == 1 || b.v.size() == 1) {  // a scalar scales every component
        each([&](std::size_t i) { return a[i] * b[i]; });
        break;
      }
      // A vector is a row on the left and a column on the right.
      const std::uint32_t n = a.rows, inner = a.rows == 1 ? static_cast<std::uint32_t>(a.v.size()) : a.columns;
      const bool rightVector = b.rows == 1;
      const std::uint32_t bRows = rightVector ? static_cast<std::uint32_t>(b.v.size()) : b.rows;
      const std::uint32_t q = rightVector ? 1 : b.columns;
      if (inner != bRows || count != std::size_t{n} * q) return E_FAIL;
      for (std::uint32_t i = 0; i < n; ++i)
        for (std::uint32_t j = 0; j < q; ++j) {
          double sum = 0.0;
          for (std::uint32_t k = 0; k < inner; ++k) sum += a.v[i * inner + k] * b.v[k * q + j];
          r[i * q + j] = sum;
        }
      break;
    }
  }
  out->clear();
  for (std::size_t i = 0; i < count; ++i) out->push_back(StoreDouble(r[i], kinds[i]));
  return S_OK;
}

}  // namespace gxl::shader
