// HLSL types: conversions over every shape and size against the properties the
// rules imply, the common base of every pair, the type texts and the matrix
// order of declarations.
#include <set>

#include "hlsl_fixture.h"

namespace {

using namespace shadertest;

class GxlHlslTypes : public HlslTest {
 protected:
  // Every numeric shape of one base with sizes 1-4, and two objects.
  std::vector<TypeNode*> AllShapes(std::uint32_t base) {
    std::vector<TypeNode*> out{Scalar(base)};
    for (std::uint32_t c = 1; c <= 4; ++c) out.push_back(new TypeNode(kShapeVector, base, 1, c, 0));
    for (std::uint32_t r = 1; r <= 4; ++r)
      for (std::uint32_t c = 1; c <= 4; ++c) out.push_back(Mat(base, r, c));
    out.push_back(Obj(kBaseTexture2D));
    out.push_back(Obj(kBaseSampler2D));
    return out;
  }
  static constexpr std::uint32_t kBaseTexture2D = 17;
  static constexpr std::uint32_t kBaseSampler2D = 22;
};

TEST_F(GxlHlslTypes, ConversionsNeverWidenExceptFromAScalarAndKeepObjectsApart) {
  const auto shapes = AllShapes(kBaseFloat);
  for (TypeNode* t : shapes) {
    for (TypeNode* s : shapes) {
      const bool ok = parser.CanConvert(t, s, false);
      SCOPED_TRACE(TypeText(s) + " -> " + TypeText(t));
      if (t == s) {
        EXPECT_TRUE(ok);
      }
      if ((t->shape == kShapeObject) != (s->shape == kShapeObject)) {
        EXPECT_FALSE(ok);
      }
      if (ok && s->shape != kShapeScalar && s->shape != kShapeObject) {
        EXPECT_LE(parser.ComponentCount(t), parser.ComponentCount(s));
      }
      if (t->shape == kShapeVector && s->shape == kShapeVector) {
        EXPECT_EQ(ok, t->columns <= s->columns);
      }
      if (t->shape == kShapeMatrix && s->shape == kShapeMatrix) {
        EXPECT_EQ(ok, t->rows <= s->rows && t->columns <= s->columns);
      }
      if (t->shape == kShapeScalar) {
        EXPECT_EQ(ok, s->shape != kShapeObject);
      }
      // An equal count in one line (a vector or a single-row or single-column
      // matrix) converts, unless both are matrices, which keep their rows.
      const bool line = (t->shape == kShapeVector || t->rows == 1 || t->columns == 1) &&
                        (s->shape == kShapeVector || s->rows == 1 || s->columns == 1) &&
                        !(t->shape == kShapeMatrix && s->shape == kShapeMatrix);
      if (t->shape <= kShapeMatrix && s->shape <= kShapeMatrix && line &&
          parser.ComponentCount(t) == parser.ComponentCount(s)) {
        EXPECT_TRUE(ok);
      }
      // Wrapping both in one-element arrays: aggregates convert by component,
      // so only at an equal count; with flattening, when the target is no wider.
      if (s->shape != kShapeObject && t->shape != kShapeObject) {
        EXPECT_EQ(parser.CanConvert(Array(t, 1), Array(s, 1), false),
                  parser.ComponentCount(t) == parser.ComponentCount(s));
        EXPECT_EQ(parser.CanConvert(Array(t, 1), Array(s, 1), true),
                  parser.ComponentCount(t) <= parser.ComponentCount(s));
      }
    }
  }
  EXPECT_TRUE(parser.CanConvert(nullptr, Scalar(kBaseFloat), true));
  EXPECT_FALSE(parser.CanConvert(nullptr, Scalar(kBaseFloat), false));
  EXPECT_FALSE(parser.CanConvert(Scalar(kBaseFloat), nullptr, true));
  EXPECT_TRUE(parser.CanConvert(nullptr, nullptr, false));
}

TEST_F(GxlHlslTypes, EdgeCasesOfConversion) {
  const struct {
    TypeNode *target, *source;
    bool ok;
  } cases[] = {
      {Vec(kBaseFloat, 4), Vec(kBaseFloat, 2), false},
      {Vec(kBaseFloat, 2), Vec(kBaseFloat, 4), true},
      {Mat(kBaseFloat, 2, 2), Vec(kBaseFloat, 4), true},
      {Mat(kBaseFloat, 2, 2), Vec(kBaseFloat, 3), false},
      {Vec(kBaseFloat, 4), Mat(kBaseFloat, 1, 4), true},
      {Mat(kBaseFloat, 4, 1), Vec(kBaseFloat, 4), true},
      {Obj(15), Obj(17), true},
      {Obj(17), Obj(15), true},
      {Obj(15), Obj(22), false},
      {Obj(22), Obj(20), true},
      {Obj(22), Obj(kBaseNull), true},
      {Obj(17), Obj(18), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parser.CanConvert(c.target, c.source, false), c.ok) << TypeText(c.source);
  }

  ParseNode* twoHalves = Struct({Vec(kBaseFloat, 2), Vec(kBaseFloat, 2)});
  EXPECT_FALSE(parser.CanConvert(Vec(kBaseFloat, 4), twoHalves, false));
  EXPECT_TRUE(parser.CanConvert(Vec(kBaseFloat, 4), twoHalves, true));
  ParseNode* same = Struct({Vec(kBaseFloat, 2), Vec(kBaseFloat, 2)});
  EXPECT_TRUE(parser.CanConvert(same, twoHalves, false));
  EXPECT_FALSE(parser.CanConvert(Struct({Vec(kBaseFloat, 2), Vec(kBaseInt, 2)}), twoHalves, false));
  EXPECT_FALSE(parser.TypesEqual(twoHalves, Struct({Vec(kBaseFloat, 2)})));  // member counts differ

  parser.ReportConversionError(nullptr, nullptr, Vec(kBaseFloat, 4), Vec(kBaseFloat, 2), false);
  parser.ReportConversionError(nullptr, "x", Vec(kBaseFloat, 2), Mat(kBaseFloat, 3, 3), false);
  parser.ReportConversionError(nullptr, "y", Vec(kBaseFloat, 4), twoHalves, false);
  parser.ReportConversionError(nullptr, nullptr, Vec(kBaseFloat, 4), Vec(kBaseFloat, 2), true);
  EXPECT_EQ(Log(),
            "error X3017: cannot implicitly convert from 'float2' to 'float4'\n"
            "error X3017: 'x': cannot implicitly convert from 'float3x3' to 'float2'\n"
            "error X3017: 'y': cannot convert from 'struct{4}' to 'float4'\n"
            "error X3017: cannot convert from 'float2' to 'float4'\n");
}

TEST_F(GxlHlslTypes, CommonBaseIsSymmetricAndTakesThePartnersBase) {
  for (std::uint32_t a = 0; a < kBaseTypeCount; ++a) {
    for (std::uint32_t b = 0; b < kBaseTypeCount; ++b) {
      const int ab = parser.CommonBaseType(Scalar(a), Scalar(b));
      EXPECT_EQ(ab, parser.CommonBaseType(Scalar(b), Scalar(a))) << a << " " << b;
      const bool numeric = a <= kBaseDouble && b <= kBaseDouble;
      const bool objects = a >= kBaseNull && b >= kBaseNull;
      EXPECT_EQ(ab >= 0, numeric || a == b || (objects && (a == kBaseNull || b == kBaseNull)) ||
                             (a == 15 && b >= 15 && b <= 19) || (a == 20 && b >= 20 && b <= 24) ||
                             (b == 15 && a >= 15 && a <= 19) || (b == 20 && a >= 20 && a <= 24))
          << a << " " << b;
      // A literal kind meets anything of its class and takes the partner's base.
      if ((a == kBaseLiteralInt && b >= 1 && b <= 4) || (a == kBaseLiteralFloat && b >= 9 && b <= 12)) {
        EXPECT_EQ(ab, static_cast<int>(b));
      }
    }
  }
  EXPECT_EQ(parser.CommonBaseType(Scalar(kBaseInt), Scalar(kBaseFloat)), static_cast<int>(kBaseFloat));
  EXPECT_EQ(parser.CommonBaseType(Scalar(kBaseHalf), Scalar(kBaseFloat)), static_cast<int>(kBaseFloat));
  EXPECT_EQ(parser.CommonBaseType(Scalar(kBaseBool), Scalar(kBaseInt)), static_cast<int>(kBaseInt));
  EXPECT_EQ(parser.CommonBaseType(Scalar(kBaseInt), Scalar(kBaseUint)), static_cast<int>(kBaseInt));

  const struct {
    TypeNode *a, *b;
    const char* result;
  } combined[] = {
      {Vec(kBaseFloat, 4), Scalar(kBaseFloat), "float4"},   {Scalar(kBaseFloat), Vec(kBaseInt, 4), "float4"},
      {Vec(kBaseHalf, 2), Vec(kBaseFloat, 2), "float2"},    {Vec(kBaseFloat, 2), Vec(kBaseFloat, 3), "float2"},
      {Mat(kBaseFloat, 4, 4), Vec(kBaseFloat, 4), nullptr},
  };
  for (const auto& c : combined) {
    ParseNode* result = nullptr;
    const bool ok = parser.CombineOperandTypes(c.a, c.b, false, &result);
    EXPECT_EQ(ok, c.result != nullptr);
    if (c.result) {
      EXPECT_EQ(TypeText(result), c.result);
    }
  }
}

TEST_F(GxlHlslTypes, TextsCountsAndComponents) {
  TypeNode* m = Mat(kBaseFloat, 3, 4);
  m->flags |= TypeNode::kConst;
  const struct {
    ParseNode* type;
    const char* text;
    std::uint32_t count;
  } cases[] = {
      {nullptr, "void", 0},
      {Vec(kBaseFloat, 4), "float4", 4},
      {Const(Mat(kBaseHalf, 3, 3)), "const half3x3", 9},
      {Obj(22), "sampler2D", 1},
      {Array(m, 2), "const float3x4[2]", 24},
      {Array(Array(Vec(kBaseFloat, 4), 2), 3), "float4[3][2]", 24},
      {Struct({Vec(kBaseFloat, 4), Vec(kBaseInt, 3)}), "struct{7}", 7},
      {Scalar(40), "unknown", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TypeText(c.type), c.text);
    EXPECT_EQ(parser.ComponentCount(c.type), c.count) << c.text;
  }
  // Components in storage order: members in order, matrices row by row.
  ParseNode* s = Struct({Vec(kBaseHalf, 2), Array(Scalar(kBaseBool), 2), Obj(22)});
  const std::uint32_t bases[] = {kBaseHalf, kBaseHalf, kBaseBool, kBaseBool, 22};
  for (std::uint32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(parser.ComponentType(s, i)->baseType, bases[i]);
  }
  EXPECT_EQ(parser.ComponentType(s, 4)->shape, kShapeObject);
  EXPECT_EQ(parser.ComponentType(s, 5), nullptr);
  EXPECT_TRUE(parser.IsNumericType(Struct({Vec(kBaseFloat, 2)})));
  EXPECT_FALSE(parser.IsNumericType(s));
  parser.SetConst(s, true);
  EXPECT_TRUE(parser.IsConst(s));
  EXPECT_TRUE(parser.ComponentType(s, 3)->flags & TypeNode::kConst);
}

TEST_F(GxlHlslTypes, BuiltinNames) {
  const struct {
    const char* name;
    const char* text;
  } cases[] = {
      {"half3", "half3"},     {"float4x3", "float4x3"},       {"FLOAT", "float"},
      {"Dword", "int"},       {"vector", "float4"},           {"MATRIX", "float4x4"},
      {"bool1x1", "bool1x1"}, {"double2", "double2"},         {"Float4", nullptr},
      {"float5", nullptr},    {"float4x", nullptr},           {"int0", nullptr},
      {"texture", "texture"}, {"PixelShader", "pixelshader"}, {"float4x4x", nullptr},
      {"sampler", nullptr},
  };
  for (const auto& c : cases) {
    TypeNode* t = BuiltinType(c.name);
    EXPECT_EQ(t != nullptr, c.text != nullptr) << c.name;
    if (t && c.text) {
      EXPECT_EQ(TypeText(t), c.text);
    }
  }
  ParseNode* found = nullptr;
  EXPECT_EQ(parser.LookupName(kDeclType, Name("half2x3"), nullptr, 0, parser.CurrentScope(), 0, &found, nullptr), S_OK);
  EXPECT_EQ(TypeText(found), "half2x3");
}

TEST_F(GxlHlslTypes, TypeConstructorsAndMatrixOrder) {
  EXPECT_EQ(TypeText(parser.MakeVectorType(Scalar(kBaseHalf), Int(3))), "half3");
  EXPECT_EQ(parser.MakeVectorType(Scalar(kBaseFloat), Int(5)), nullptr);
  EXPECT_EQ(TypeText(parser.MakeMatrixType(Scalar(kBaseFloat), Int(2), Float(3.0))), "float2x3");
  EXPECT_EQ(parser.MakeMatrixType(Scalar(kBaseFloat), Int(2), Int(0)), nullptr);
  ParseNode* v = Declare("v", Scalar(kBaseFloat));
  EXPECT_EQ(parser.MakeVectorType(Scalar(kBaseFloat), Var("v")), nullptr);
  EXPECT_EQ(Log(),
            "(1): error X3052: vector dimension must be between 1 and 4\n"
            "(1): error X3053: matrix dimensions must be between 1 and 4\n"
            "(1): error X3060: vector dimension must be a literal scalar expression\n");
  ASSERT_NE(v, nullptr);

  auto order = [&](std::uint32_t options, std::uint32_t usage, const char* pragma) {
    ShaderPreprocessor run;
    if (pragma) {
      // The pragma takes effect as the parser pulls the tokens after it.
      EXPECT_EQ(run.StartFromMemory(pragma, static_cast<UINT>(std::strlen(pragma)), nullptr, nullptr), S_OK);
      SourceToken token;
      while (run.NextToken(&token) == S_OK && token.kind != kTokenEndOfInput) {
      }
    }
    HlslParser p;
    p.Reset(options, &run);
    ParseNodeKind7 u(usage, nullptr, nullptr);
    auto* t = static_cast<TypeNode*>(p.ApplyUsage(&u, Mat(kBaseFloat, 4, 4), nullptr));
    return t->flags & (kTypeRowMajor | kTypeColumnMajor);
  };
  EXPECT_EQ(order(0x8, 0, nullptr), kTypeRowMajor);
  EXPECT_EQ(order(0x10, 0, nullptr), kTypeColumnMajor);
  EXPECT_EQ(order(0x8, kUsageColumnMajor, nullptr), kTypeColumnMajor);
  EXPECT_EQ(order(0x8, 0, "#pragma pack_matrix(column_major)\n"), kTypeColumnMajor);
  EXPECT_EQ(order(0x10, 0, "#pragma pack_matrix(row_major)\n"), kTypeRowMajor);
  EXPECT_EQ(order(0, 0, nullptr), 0u);
  ParseNodeKind7 rowMajor(kUsageRowMajor | kUsageConst, nullptr, nullptr);
  ParseNode* t = parser.ApplyUsage(&rowMajor, Vec(kBaseFloat, 4), nullptr);
  EXPECT_TRUE(parser.IsConst(t));
  EXPECT_TRUE(Logged("error X3077: non-matrix types cannot be declared 'row_major' or 'column_major'"));
}

TEST_F(GxlHlslTypes, DeeplyNestedTypesAreWalkedWithoutRecursion) {
  // A chain of 200,000 one-member structs and one of one-element arrays.
  ParseNode* s = Scalar(kBaseFloat);
  ParseNode* a = Scalar(kBaseFloat);
  for (int i = 0; i < 200000; ++i) {
    s = new ListNode(s, nullptr, "Types");
    a = Array(a, 1);
  }
  EXPECT_EQ(parser.ComponentCount(s), 1u);
  EXPECT_EQ(parser.ComponentCount(a), 1u);
  EXPECT_TRUE(parser.TypesEqual(s, s));
  EXPECT_TRUE(parser.CanConvert(Scalar(kBaseFloat), s, true));
  EXPECT_EQ(TypeText(a).substr(0, 8), "float[1]");
  // Members shared 2^40 times over count without expanding.
  ParseNode* shared = Scalar(kBaseFloat);
  for (int i = 0; i < 40; ++i) shared = new ListNode(shared, new ListNode(shared, nullptr, "Types"), "Types");
  EXPECT_EQ(parser.ComponentCount(shared), 0xFFFFFFFFu);
}

}  // namespace
