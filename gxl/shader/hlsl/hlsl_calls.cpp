// Function calls: overload ranking by conversion cost, the binding of
// arguments to parameters, and compile expressions.
#include <algorithm>
#include <cstring>
#include <vector>

#include "gxl/shader/hlsl/hlsl_parser.h"
#include "gxl/shader/core/profiles.h"

namespace gxl::shader {
namespace {

std::uint32_t ListLength(const ParseNode* list) {
  std::uint32_t n = 0;
  for (; list && list->kind == NodeKind::List; list = list->second) ++n;
  return n;
}

// The integer width of a base (0 for the literal kinds), or -1 for others.
int IntegerWidth(std::uint32_t base) {
  if (base < kBaseLiteralInt || base > kBaseUint) return -1;
  static constexpr int kWidths[] = {0, 8, 16, 32};
  return kWidths[(base - 1) % 4];
}

std::uint32_t AddCost(std::uint32_t a, std::uint32_t b) {
  return std::min<std::uint64_t>(std::uint64_t{a} + b, kNoMatch - 1);
}

// Appends a value to a list built front to back.
bool Append(ParseNode*& head, ParseNode*& last, ParseNode* value, const char* tag) {
  auto* cell = new ListNode(value, nullptr, tag);
  if (!cell) return false;
  (last ? last->second : head) = cell;
  last = cell;
  return true;
}

}  // namespace

bool HlslParser::BaseTypesDiffer(std::uint32_t a, std::uint32_t b) {
  if (a == b) return false;
  const int x = IntegerWidth(a), y = IntegerWidth(b);
  if (x >= 0 && y >= 0) return !(x == 0 || y == 0 || x == y);
  const bool floatA = a >= kBaseLiteralFloat && a <= kBaseDouble;
  const bool floatB = b >= kBaseLiteralFloat && b <= kBaseDouble;
  return !(floatA && floatB && (a == kBaseLiteralFloat || b == kBaseLiteralFloat));
}

std::uint32_t HlslParser::ConversionCost(const ParseNode* to, const ParseNode* from) {
  if (TypesEqual(to, from)) return 0;
  const std::uint64_t toCount = ComponentCount64(to);
  const std::uint64_t fromCount = ComponentCount64(from);
  bool valueChange = false, widening = false;
  TypeComponentWalker t(to), f(from);
  ScalarComponent tc, fc;
  for (std::uint64_t i = 0; i < std::min(toCount, fromCount) && !(valueChange && widening); ++i) {
    const int common = t.Next(&tc) && f.Next(&fc) ? CommonBase(tc.base, fc.base) : -1;
    if (common < 0 || tc.object != fc.object) {
      valueChange = widening = true;
      break;
    }
    valueChange |= BaseTypesDiffer(tc.base, static_cast<std::uint32_t>(common));
    widening |= BaseTypesDiffer(static_cast<std::uint32_t>(common), fc.base);
  }
  return (valueChange ? 0x200u : 0u) + (widening ? 0x10000u : 0u) + (toCount < fromCount ? 0x800000u : 0u);
}

std::uint32_t HlslParser::TargetCost(const ParseNode* functionTarget, const TokenNode* target) {
  const char* f = IdentifierText(functionTarget);
  const char* t = IdentifierText(target);
  if (!f && !t) return 0;
  if (!f || !t) return 2;
  ShaderProfileRow fr, tr;
  if (SUCCEEDED(ProfileNameToToken(f, 0, &fr)) && SUCCEEDED(ProfileNameToToken(t, 0, &tr))) {
    if (fr.version == tr.version) return 0;
    if ((fr.version >> 16) != (tr.version >> 16) || ((fr.version & 0xFFFF) && (tr.version & 0xFFFF))) return kNoMatch;
    return (tr.version & 0xFFFF) ? 1 : 2;
  }
  return std::strcmp(f, t) == 0 ? 0 : kNoMatch;
}

std::uint32_t HlslParser::ArgumentCost(const DeclarationNode* function, const TokenNode* target, ParseNode* arguments,
                                       std::uint32_t options) {
  const ParseNodeKind10* f = FunctionDescription(function);
  if (!f) return kNoMatch;
  std::uint32_t cost = TargetCost(f->profile, target);
  if (cost == kNoMatch) return kNoMatch;
  const ParseNode* argument = arguments;
  for (const ParseNode* p = f->parameters; p && p->kind == NodeKind::List; p = p->second) {
    const ParseNodeKind11* variable = VariableDescription(p->first);
    if (!variable) return kNoMatch;
    const std::uint32_t usage = variable->storage;
    if ((options & kLookupUniformOnly) && !(usage & kUsageUniform)) continue;
    if (!argument) {
      if (!variable->nodes[2]) return kNoMatch;
      continue;
    }
    const ParseNode* value = argument->first;
    argument = argument->second;
    if (options & kLookupExact) {
      // The arguments are parameter declarations of another prototype.
      const ParseNodeKind11* other = VariableDescription(value);
      if (!other || (other->storage & kUsageInOut) != (usage & kUsageInOut) ||
          !TypesEqual(other->nodes[0], variable->nodes[0]))
        return kNoMatch;
      continue;
    }
    const ParseNodeKind13* e = AsExpression(value);
    if (!e) return kNoMatch;
    const ParseNode* type = variable->nodes[0];
    if (usage & kUsageIn) {
      if (!CanConvert(type, e->type, false)) return kNoMatch;
      cost = AddCost(cost, ConversionCost(type, e->type));
    }
    if (usage & kUsageOut) {
      if (IsConst(e->type) || !CanConvert(e->type, type, false)) return kNoMatch;
      cost = AddCost(cost, ConversionCost(e->type, type));
    }
  }
  return argument ? kNoMatch : cost;
}

bool HlslParser::BindCall(const TokenNode* name, bool intrinsic, const Parameter* parameters, std::uint32_t count,
                          ParseNode* arguments, bool uniformOnly, ParseNode** inputs, ParseNode** outputs) {
  const char* text = name->token.value.text;
  const std::uint32_t given = ListLength(arguments);
  // The count first: every argument needs a parameter, every parameter an
  // argument or a default.
  std::uint32_t usable = 0, required = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (uniformOnly && !(parameters[i].usage & kUsageUniform)) continue;
    ++usable;
    if (!parameters[i].defaultValue) required = usable;
  }
  if (given > usable || given < required) {
    const char* plural = given == 1 ? "" : "s";
    if (intrinsic) {
      GXL_HLSL_REPORT(*this, &name->token, msg::kIntrinsicArgumentCount, text, given, plural);
    } else {
      GXL_HLSL_REPORT(*this, &name->token, msg::kFunctionArgumentCount, text, given, plural);
    }
    return false;
  }
  ParseNode *lastInput = nullptr, *lastOutput = nullptr;
  *inputs = *outputs = nullptr;
  ParseNode* argument = arguments;
  for (std::uint32_t i = 0; i < count; ++i) {
    const Parameter& p = parameters[i];
    if (uniformOnly && !(p.usage & kUsageUniform)) continue;
    if (!argument) {
      if (!Append(*inputs, lastInput, p.defaultValue, "Inputs")) return OutOfMemory(), false;
      continue;
    }
    auto* e = static_cast<ParseNodeKind13*>(argument->first);
    argument = argument->second;
    if (p.usage & kUsageIn) {
      if (!CanConvert(p.type, e->type, false)) {
        ReportConversionError(&e->token, text, p.type, e->type, false);
        return false;
      }
      ParseNode* converted = Convert(e, p.type);
      if (!converted || !Append(*inputs, lastInput, converted, "Inputs")) return false;
    }
    if (p.usage & kUsageOut) {
      if (IsConst(e->type) || !CanConvert(e->type, p.type, false)) {
        ReportConversionError(&e->token, text, e->type, p.type, false);
        return false;
      }
      ParseNodeKind11* variable = p.variable;
      if (!variable &&
          !(variable = new ParseNodeKind11(kNoSlot, ComponentCount(p.type), i, kUsageOut,
                                           const_cast<ParseNode*>(p.type), nullptr, nullptr, nullptr, nullptr)))
        return OutOfMemory(), false;
      ParseNode* value = MakeVariableReference(variable, p.type, e->token);
      ParseNode* assignment = value ? MakeOperator(kExprAssign, e, value) : nullptr;
      if (!assignment || !Append(*outputs, lastOutput, assignment, "Outputs")) return false;
    }
  }
  return true;
}

ParseNode* HlslParser::ResolveCall(const TokenNode* name, ParseNode* arguments, bool uniformOnly,
                                   const TokenNode* target) {
  if (!name || name->token.kind != kTokenIdentifier) return nullptr;
  for (const ParseNode* c = arguments; c; c = c->second)
    if (c->kind != NodeKind::List || !AsExpression(c->first)) return nullptr;
  const char* text = name->token.value.text;
  const std::uint32_t given = ListLength(arguments);
  ParseNode* found = nullptr;
  ParseNode* candidates = nullptr;
  const std::uint32_t options = kLookupItself | kLookupCost | (uniformOnly ? std::uint32_t{kLookupUniformOnly} : 0u);
  HRESULT hr = LookupName(kDeclFunction, name, arguments, given, m_scope, options, &found, &candidates, target);
  if (FAILED(hr)) return nullptr;

  const IntrinsicRows rows = FindIntrinsics(text);
  IntrinsicMatch match{};
  auto matchIntrinsic = [&] {
    for (std::size_t i = 0; i < rows.count && given <= 4; ++i)
      if (MatchIntrinsic(rows.first[i], arguments, &match)) return true;
    return false;
  };
  auto anyUserFunction = [&] {
    return LookupName(kDeclFunction, name, nullptr, 0, m_scope, kLookupItself, &found, &candidates) == S_OK;
  };
  bool intrinsic = false;
  if (hr != S_OK) {
    // A user function of any signature reports the mismatch when binding.
    bool user = false;
    if (uniformOnly) {
      if (!(user = anyUserFunction())) intrinsic = matchIntrinsic();
    } else if (!(intrinsic = matchIntrinsic())) {
      user = anyUserFunction();
    }
    if (!intrinsic && !user) {
      if (rows.count) {
        GXL_HLSL_REPORT(*this, &name->token, msg::kIntrinsicArgumentCount, text, given, given == 1 ? "" : "s");
      } else {
        GXL_HLSL_REPORT(*this, &name->token, msg::kUndeclaredIdentifier, text);
      }
      return nullptr;
    }
  }

  ParseNode* function = nullptr;
  const ParseNode* type = nullptr;
  std::vector<Parameter> parameters;
  if (intrinsic) {
    parameters.assign(match.parameters, match.parameters + match.count);
    type = match.result;
    function = new ExpressionNode(kValueFunction, static_cast<const void*>(match.row), 0, name->token);
    if (!function) return OutOfMemory();
  } else {
    const ParseNodeKind10* f = FunctionDescription(found);
    if (!f) return nullptr;
    for (const ParseNode* p = f->parameters; p && p->kind == NodeKind::List; p = p->second) {
      ParseNodeKind11* variable = VariableDescription(p->first);
      if (!variable) return nullptr;
      parameters.push_back({variable->storage, variable->nodes[0], variable->nodes[2], variable});
    }
    type = f->returnType;
    function = candidates;
  }
  ParseNode *inputs = nullptr, *outputs = nullptr;
  if (!BindCall(name, intrinsic, parameters.data(), static_cast<std::uint32_t>(parameters.size()), arguments,
                uniformOnly, &inputs, &outputs))
    return nullptr;
  auto* outputCell = new ListNode(outputs, nullptr, "Parameters");
  auto* parameterList = outputCell ? new ListNode(inputs, outputCell, "Parameters") : nullptr;
  if (!parameterList) return OutOfMemory();
  return Finish(NewExpression(type, intrinsic ? kExprIntrinsic : kExprCall, function, parameterList, name->token));
}

ParseNode* HlslParser::MakeCompileExpression(const TokenNode* profile, const TokenNode* name, ParseNode* arguments,
                                             bool fragment) {
  const char* profileName = IdentifierText(profile);
  ShaderProfileRow row;
  if (!profileName || FAILED(ProfileNameToToken(profileName, kProfileCompilerTarget, &row))) {
    GXL_HLSL_REPORT(*this, profile ? &profile->token : &m_token, msg::kUnsupportedCompilerTarget,
                    profileName ? profileName : "");
    return nullptr;
  }
  ParseNode* call = ResolveCall(name, arguments, true, profile);
  if (!call) return nullptr;
  const bool vertex = (row.version >> 16) == 0xFFFE;
  const std::uint32_t base =
      fragment ? (vertex ? kBaseVertexFragment : kBasePixelFragment) : (vertex ? kBaseVertexShader : kBasePixelShader);
  auto* type = new TypeNode(kShapeObject, base, 1, 1, 0);
  if (!type) return OutOfMemory();
  return NewExpression(type, kExprCompile, const_cast<TokenNode*>(profile), call, profile->token);
}

}  // namespace gxl::shader
