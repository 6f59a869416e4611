// The 55 expression patterns of instruction selection, as constant data. Each
// tree is written out in its comment (cN = capture slot N, [neg] = read
// through a negated value, "either order" = argument groups 0 and 1 may be
// exchanged).
#include "gxl/shader/backend/select/expression_pattern.h"

namespace gxl::shader {

namespace {

constexpr std::uint32_t kNeg = 0x80000;
constexpr std::uint32_t c0 = 16, c1 = 17, c2 = 18, c3 = 19, c4 = 20, c5 = 21, c6 = 22, c7 = 23, c8 = 24;

constexpr std::uint32_t Op(std::uint32_t group) { return group << 20; }

// A record of node `n` computing `group` over one, two or three operands.
constexpr ExpressionPattern R(std::uint32_t n, std::uint32_t group, std::uint32_t a) {
  return {n, Op(group), 1, {a, 0, 0}, 0, 0};
}
constexpr ExpressionPattern R(std::uint32_t n, std::uint32_t group, std::uint32_t a, std::uint32_t b,
                              std::uint32_t binding = 0, std::uint32_t swap = 0) {
  return {n, Op(group), 2, {a, b, 0}, binding, swap};
}
constexpr ExpressionPattern R3(std::uint32_t n, std::uint32_t group, std::uint32_t a, std::uint32_t b, std::uint32_t c,
                               std::uint32_t binding = 0) {
  return {n, Op(group), 3, {a, b, c}, binding, 0};
}
// The end record; the combining patterns note their capture count there.
constexpr ExpressionPattern End(std::uint32_t n, std::uint32_t captures = 0) {
  return captures ? ExpressionPattern{n, 0, captures, {0x10, 0x11, 0x12}, 0, 0} : ExpressionPattern{n, 0, 0, {}, 0, 0};
}

constexpr std::uint32_t kAdd = 0x204, kMul = 0x205, kCmp = 0x300, kMin = 0x200, kMax = 0x201, kDot = 0x500;
constexpr std::uint32_t kMad = 0x703, kIfTest = 0x10F, kBreak = 0x114, kMov = 0x100;
constexpr std::uint32_t kEntry = 0x112, kEntryCopy = 0x113, kBreakMerge = 0x208, kLoopMerge = 0x209;

// 1 add(mul(c0, c1), c2), either order
constexpr ExpressionPattern p1[] = {R(0, kAdd, 1, c2, 0, 1), R(1, kMul, c0, c1), End(2, 3)};
// 2 add(mul(c0, c1)[neg], c2), either order
constexpr ExpressionPattern p2[] = {R(0, kAdd, 1, c2, 0, 1), R(1, kMul, c0, c1, kNeg), End(2, 3)};
// 3 add(add(c0, c1), c2)
constexpr ExpressionPattern p3[] = {R(0, kAdd, 1, c2), R(1, kAdd, c0, c1), End(2, 3)};
// 4 add(add(c0, c1)[neg], c2)
constexpr ExpressionPattern p4[] = {R(0, kAdd, 1, c2), R(1, kAdd, c0, c1, kNeg), End(2, 3)};
// 5 add(c2, add(c0, c1))
constexpr ExpressionPattern p5[] = {R(0, kAdd, c2, 1), R(1, kAdd, c0, c1), End(2, 3)};
// 6 add(c2, add(c0, c1)[neg])
constexpr ExpressionPattern p6[] = {R(0, kAdd, c2, 1), R(1, kAdd, c0, c1, kNeg), End(2, 3)};
// 7 mad(add(c0, c1), c2, c3)
constexpr ExpressionPattern p7[] = {R3(0, kMad, 1, c2, c3), R(1, kAdd, c0, c1), End(2, 4)};
// 8 mad(c2, add(c0, c1), c3)
constexpr ExpressionPattern p8[] = {R3(0, kMad, c2, 1, c3), R(1, kAdd, c0, c1), End(2, 4)};
// 9 cmp(add(cmp(c5, c6, c7), c1) either order, c0, cmp(c2, c3, c4))
constexpr ExpressionPattern p9[] = {R3(0, kCmp, 1, c0, 3), R(1, kAdd, 2, c1, 0, 1), R3(2, kCmp, c5, c6, c7),
                                    R3(3, kCmp, c2, c3, c4), End(4)};
// 10 cmp(cmp(add(c5, c6), c1, c2), cmp(add(c7, c8), c3, c4), c0)
constexpr ExpressionPattern p10[] = {R3(0, kCmp, 1, 3, c0),  R3(1, kCmp, 2, c1, c2), R(2, kAdd, c5, c6),
                                     R3(3, kCmp, 4, c3, c4), R(4, kAdd, c7, c8),     End(5)};
// 11 cmp(add(cmp(c5, c6, c7)[neg], c1) either order, cmp(c2, c3, c4), c0)
constexpr ExpressionPattern p11[] = {R3(0, kCmp, 1, 3, c0), R(1, kAdd, 2, c1, 0, 1), R3(2, kCmp, c5, c6, c7, kNeg),
                                     R3(3, kCmp, c2, c3, c4), End(4)};
// 12 max(min(c1, c2), c0), either order at the root
constexpr ExpressionPattern p12[] = {R(0, kMax, 1, c0, 0, 1), R(1, kMin, c1, c2), End(2)};
// 13 min(max(c1, c2), c0), either order at the root
constexpr ExpressionPattern p13[] = {R(0, kMin, 1, c0, 0, 1), R(1, kMax, c1, c2), End(2)};
// 14 cmp(add(c2, c3), c0, c1)
constexpr ExpressionPattern p14[] = {R3(0, kCmp, 1, c0, c1), R(1, kAdd, c2, c3), End(2)};
// 15 cmp(add(c1, c2), c0, add(c3, c4))
constexpr ExpressionPattern p15[] = {R3(0, kCmp, 1, c0, 2), R(1, kAdd, c1, c2), R(2, kAdd, c3, c4), End(3)};
// 16 cmp(add(c1, c2), add(c3, c4), c0)
constexpr ExpressionPattern p16[] = {R3(0, kCmp, 1, 2, c0), R(1, kAdd, c1, c2), R(2, kAdd, c3, c4), End(3)};
// 17 mul(rsq(dot(c1, c2)), c0), either order at the root
constexpr ExpressionPattern p17[] = {R(0, kMul, 1, c0, 0, 1), R(1, 0x107, 2), R(2, kDot, c1, c2), End(3)};
// 18 0x10F(cmp(c0, c1, c2))
constexpr ExpressionPattern p18[] = {R(0, kIfTest, 1), R3(1, kCmp, c0, c1, c2), End(2)};
// 19-22 setp ge, lt, ne, eq of (add(c1, c2), c0)
constexpr ExpressionPattern p19[] = {R(0, 0x735, 1, c0), R(1, kAdd, c1, c2), End(2)};
constexpr ExpressionPattern p20[] = {R(0, 0x736, 1, c0), R(1, kAdd, c1, c2), End(2)};
constexpr ExpressionPattern p21[] = {R(0, 0x737, 1, c0), R(1, kAdd, c1, c2), End(2)};
constexpr ExpressionPattern p22[] = {R(0, 0x738, 1, c0), R(1, kAdd, c1, c2), End(2)};
// 23, 24 setp ge, lt of (mul(c1, c2)[neg], c0)
constexpr ExpressionPattern p23[] = {R(0, 0x735, 1, c0), R(1, kMul, c1, c2, kNeg), End(2)};
constexpr ExpressionPattern p24[] = {R(0, 0x736, 1, c0), R(1, kMul, c1, c2, kNeg), End(2)};
// 25, 26 setp ge, lt of (mul(c0, c1)[neg], mul(c2, c3))
constexpr ExpressionPattern p25[] = {R(0, 0x735, 1, 2), R(1, kMul, c0, c1, kNeg), R(2, kMul, c2, c3), End(3)};
constexpr ExpressionPattern p26[] = {R(0, 0x736, 1, 2), R(1, kMul, c0, c1, kNeg), R(2, kMul, c2, c3), End(3)};
// 27, 28 0x10F(slt(c0, c1)), 0x10F(sge(c0, c1))
constexpr ExpressionPattern p27[] = {R(0, kIfTest, 1), R(1, 0x202, c0, c1), End(2)};
constexpr ExpressionPattern p28[] = {R(0, kIfTest, 1), R(1, 0x203, c0, c1), End(2)};
// 29 0x10F(cmp(add(c2, c3), c0, c1))
constexpr ExpressionPattern p29[] = {R(0, kIfTest, 1), R3(1, kCmp, 2, c0, c1), R(2, kAdd, c2, c3), End(3)};
// 30-33 breakc ge, lt, ne, eq of (add(c1, c2), c0)
constexpr ExpressionPattern p30[] = {R(0, 0x747, 1, c0), R(1, kAdd, c1, c2), End(2)};
constexpr ExpressionPattern p31[] = {R(0, 0x746, 1, c0), R(1, kAdd, c1, c2), End(2)};
constexpr ExpressionPattern p32[] = {R(0, 0x744, 1, c0), R(1, kAdd, c1, c2), End(2)};
constexpr ExpressionPattern p33[] = {R(0, 0x745, 1, c0), R(1, kAdd, c1, c2), End(2)};
// 34, 35 breakc ge, lt of (mul(c1, c2)[neg], c0)
constexpr ExpressionPattern p34[] = {R(0, 0x747, 1, c0), R(1, kMul, c1, c2, kNeg), End(2)};
constexpr ExpressionPattern p35[] = {R(0, 0x746, 1, c0), R(1, kMul, c1, c2, kNeg), End(2)};
// 36, 37 breakc ge, lt of (mul(c0, c1)[neg], mul(c2, c3))
constexpr ExpressionPattern p36[] = {R(0, 0x747, 1, 2), R(1, kMul, c0, c1, kNeg), R(2, kMul, c2, c3), End(3)};
constexpr ExpressionPattern p37[] = {R(0, 0x746, 1, 2), R(1, kMul, c0, c1, kNeg), R(2, kMul, c2, c3), End(3)};
// 38, 39 0x114(slt(c0, c1)), 0x114(sge(c0, c1))
constexpr ExpressionPattern p38[] = {R(0, kBreak, 1), R(1, 0x202, c0, c1), End(2)};
constexpr ExpressionPattern p39[] = {R(0, kBreak, 1), R(1, 0x203, c0, c1), End(2)};
// 40 0x114(cmp(add(c2, c3), c0, c1))
constexpr ExpressionPattern p40[] = {R(0, kBreak, 1), R3(1, kCmp, 2, c0, c1), R(2, kAdd, c2, c3), End(3)};
// 41 exp(mul(log(c1), c0) either order)
constexpr ExpressionPattern p41[] = {R(0, 0x105, 1), R(1, kMul, 2, c0, 0, 1), R(2, 0x106, c1), End(3)};
// 42 0x209(0x208(add(0x112(c1), c0) either order, c5), 0x113(0x112(c2)))
constexpr ExpressionPattern p42[] = {R(0, kLoopMerge, 1, 4),
                                     R(1, kBreakMerge, 2, c5),
                                     R(2, kAdd, 3, c0, 0, 1),
                                     R(3, kEntry, c1),
                                     R(4, kEntryCopy, 5),
                                     R(5, kEntry, c2),
                                     End(6)};
// 43 0x209(0x208(add(c1, c0), c5), c4)
constexpr ExpressionPattern p43[] = {R(0, kLoopMerge, 1, c4), R(1, kBreakMerge, 2, c5), R(2, kAdd, c1, c0), End(3)};
// 44 0x209(0x208(mov(add(0x112(c1), c0) either order), c5), 0x113(0x112(c2)))
constexpr ExpressionPattern p44[] = {
    R(0, kLoopMerge, 1, 5), R(1, kBreakMerge, 2, c5), R(2, kMov, 3),    R(3, kAdd, 4, c0, 0, 1),
    R(4, kEntry, c1),       R(5, kEntryCopy, 6),      R(6, kEntry, c2), End(7)};
// 45 0x209(0x208(mov(add(c1, c0)), c5), c4)
constexpr ExpressionPattern p45[] = {R(0, kLoopMerge, 1, c4), R(1, kBreakMerge, 2, c5), R(2, kMov, 3),
                                     R(3, kAdd, c1, c0), End(4)};
// 46 0x209(mov(0x208(add(0x112(c1), c0) either order, c5)), 0x113(0x112(c2)))
constexpr ExpressionPattern p46[] = {
    R(0, kLoopMerge, 1, 5), R(1, kMov, 2),       R(2, kBreakMerge, 3, c5), R(3, kAdd, 4, c0, 0, 1),
    R(4, kEntry, c1),       R(5, kEntryCopy, 6), R(6, kEntry, c2),         End(7)};
// 47 0x209(mov(0x208(add(c1, c0), c5)), c4)
constexpr ExpressionPattern p47[] = {R(0, kLoopMerge, 1, c4), R(1, kMov, 2), R(2, kBreakMerge, 3, c5),
                                     R(3, kAdd, c1, c0), End(4)};
// 48 0x209(mov(0x208(mov(add(0x112(c1), c0) either order), c5)), 0x113(0x112(c2)))
constexpr ExpressionPattern p48[] = {R(0, kLoopMerge, 1, 6), R(1, kMov, 2),           R(2, kBreakMerge, 3, c5),
                                     R(3, kMov, 4),          R(4, kAdd, 5, c0, 0, 1), R(5, kEntry, c1),
                                     R(6, kEntryCopy, 7),    R(7, kEntry, c2),        End(8)};
// 49 0x209(mov(0x208(mov(add(c1, c0)), c5)), c4)
constexpr ExpressionPattern p49[] = {R(0, kLoopMerge, 1, c4), R(1, kMov, 2),      R(2, kBreakMerge, 3, c5),
                                     R(3, kMov, 4),           R(4, kAdd, c1, c0), End(5)};
// 50 0x209(add(0x112(c1), c0) either order, 0x113(0x112(c2)))
constexpr ExpressionPattern p50[] = {R(0, kLoopMerge, 1, 3), R(1, kAdd, 2, c0, 0, 1), R(2, kEntry, c1),
                                     R(3, kEntryCopy, 4),    R(4, kEntry, c2),        End(5)};
// 51 0x209(add(c1, c0), c3)
constexpr ExpressionPattern p51[] = {R(0, kLoopMerge, 1, c3), R(1, kAdd, c1, c0), End(2)};
// 54 0x209(mov(add(0x112(c1), c0) either order), 0x113(0x112(c2))): 50 with
// the move that stands in front of the counter in lowered code
constexpr ExpressionPattern p54[] = {R(0, kLoopMerge, 1, 4), R(1, kMov, 2),       R(2, kAdd, 3, c0, 0, 1),
                                     R(3, kEntry, c1),       R(4, kEntryCopy, 5), R(5, kEntry, c2),
                                     End(6)};
// 55 0x209(mov(add(c1, c0)), c3): 51 with that move
constexpr ExpressionPattern p55[] = {R(0, kLoopMerge, 1, c3), R(1, kMov, 2), R(2, kAdd, c1, c0), End(3)};
// 52 add(dot(c0, c1), c2), either order
constexpr ExpressionPattern p52[] = {R(0, kAdd, 1, c2, 0, 1), R(1, kDot, c0, c1), End(2, 3)};
// 53 add(dot(c0, c1)[neg], c2), either order
constexpr ExpressionPattern p53[] = {R(0, kAdd, 1, c2, 0, 1), R(1, kDot, c0, c1, kNeg), End(2, 3)};

}  // namespace

const ExpressionPattern* const kExpressionPatterns[kPatternCount + 1] = {
    nullptr, p1,  p2,  p3,  p4,  p5,  p6,  p7,  p8,  p9,  p10, p11, p12, p13, p14, p15, p16, p17,
    p18,     p19, p20, p21, p22, p23, p24, p25, p26, p27, p28, p29, p30, p31, p32, p33, p34, p35,
    p36,     p37, p38, p39, p40, p41, p42, p43, p44, p45, p46, p47, p48, p49, p50, p51, p52, p53, p54, p55};

}  // namespace gxl::shader
