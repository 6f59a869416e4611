// Every message of the shader tools (front end and back end): code, severity
// and printf format. Code 0 prints no "X" number. Stages report entries by name
// through GXL_SHADER_REPORT (message_log.h), which lets the compiler check the
// arguments against the format.
#pragma once

#include <cstdint>

namespace gxl::shader {

enum class MessageSeverity : std::uint8_t { Error, Warning };

struct Message {
  std::uint32_t code;
  MessageSeverity severity;
  const char* format;
};

// Messages of the platform's shader validator carry this plus its own number.
constexpr std::uint32_t kValidatorCodeBase = 5000;

// X(name, code, Error|Warning, format)
#define GXL_SHADER_MESSAGES(X)                                                                                       \
  /* Lexer */                                                                                                        \
  X(CommentPastEndOfFile, 1001, Error, "comment continues past end of file")                                         \
  X(HexTruncated, 1002, Error, "hex value truncated to 32bits")                                                      \
  X(OctalTruncated, 1003, Error, "octal value truncated to 32bits")                                                  \
  X(DecimalTruncated, 1004, Error, "decimal value truncated to 32bits")                                              \
  X(StringPastEndOfLine, 1005, Error, "string continues past end of line")                                           \
  X(StringPastEndOfFile, 1006, Error, "string continues past end of file")                                           \
  X(CharacterPastEndOfFile, 1007, Error, "character continues past end of file")                                     \
  /* Preprocessor, macros and directive expressions */                                                              \
  X(PreprocessorSyntaxError, 1500, Error, "syntax error : unexpected %s")                                            \
  X(TokensAfterDirective, 1501, Error, "unexpected tokens following preprocessor directive")                         \
  X(UnexpectedEndOfFile, 1502, Error, "unexpected end of file")                                                      \
  X(DirectiveDivisionByZero, 1503, Error, "division by zero in preprocessor expression")                             \
  X(InvalidPreprocessorCommand, 1504, Error, "invalid preprocessor command '%s'")                                    \
  X(IncludeNeedsInterface, 1505, Error, "include interface required to support #include from resource or memory")   \
  X(TooManyNestedIncludes, 1506, Error, "too many nested #includes")                                                 \
  X(FailedToOpenSourceFile, 1507, Error, "failed to open source file: '%s'")                                         \
  X(UnexpectedElif, 1508, Error, "unexpected #elif")                                                                 \
  X(UnexpectedElse, 1509, Error, "unexpected #else")                                                                 \
  X(UnexpectedEndif, 1510, Error, "unexpected #endif")                                                               \
  X(DuplicateMacroParameter, 1511, Error, "duplicate macro parameter '%s'")                                          \
  X(FailedToOpenResource, 1512, Error, "failed to open resource")                                                    \
  X(ElifAfterElse, 1513, Error, "unexpected #elif following #else")                                                  \
  X(ElseAfterElse, 1514, Error, "unexpected #else following #else")                                                  \
  X(EndOfFileInMacroExpansion, 1515, Error, "unexpected end of file in macro expansion")                             \
  X(NotEnoughMacroParameters, 1516, Error, "not enough actual parameters for macro '%s'")                            \
  X(FunctionMacroInExpression, 1517, Error, "functional defines in preprocessor expressions not yet implemented")    \
  X(InvalidIntegerExpression, 1518, Error, "invalid or unsupported integer constant expression")                     \
  X(MacroRedefinition, 1519, Warning, "'%s' : macro redefinition")                                                   \
  X(MacroExpansionWithoutEnd, 0, Error, "'%s' : macro expansion does not end")                                        \
  X(ErrorDirective, 0, Error, "error: %s")                                                                           \
  /* Table-driven parsers, and parser texts passed through as they are */                                           \
  X(ParserStackOverflow, 0, Error, "yacc stack overflow")                                                            \
  X(PlainText, 0, Error, "%s")                                                                                       \
  X(InternalStackUnderflow, 0, Error, "internal error: stack underflow")                                             \
  X(InternalOutOfMemory, 0, Error, "internal error: out of memory")                                                  \
  X(InternalProductionFailed, 0, Error, "internal error: production failed")                                         \
  /* Assembler */                                                                                                    \
  X(AsmSyntaxError, 2000, Error, "syntax error : unexpected %s")                                                     \
  X(ShaderVersionExpected, 2001, Error, "shader version expected")                                                   \
  X(FragmentVersionUnsupported, 2001, Error,                                                                         \
    "only vs_1_1, vs_2_0, vs_2_x, vs_2_sw, ps_2_0, ps_2_x, and ps_2_sw are supported for assembly fragments")        \
  X(UnrecognizedShaderVersion, 2002, Error, "unrecognized shader version")                                           \
  X(InvalidMask, 2003, Error, "invalid mask '%s'")                                                                   \
  X(InvalidSwizzle, 2004, Error, "invalid swizzle '%s'")                                                             \
  X(Vs3FragmentRegisterType, 2005, Error,                                                                            \
    "temporary, constant, and output registers are not allowed in vs_3_0 assembly fragments")                        \
  X(FragmentRegisterType, 2005, Error, "temporary and constant registers are not allowed in assembly fragments")     \
  X(InvalidRegisterAtOffset, 2005, Error, "invalid register '%s[%u]'")                                               \
  X(InvalidRegisterRelative, 2005, Error, "invalid register '%s[...]'")                                              \
  X(InvalidRegister, 2005, Error, "invalid register '%s'")                                                           \
  X(InvalidFragmentName, 2005, Error, "invalid register, input, or constant name '%s'")                              \
  X(InvalidInputRegister, 2005, Error, "Invalid input register '%s' specified")                                      \
  X(InvalidPixelInputRegister, 2005, Error, "Invalid pixel shader input register '%s' specified")                    \
  X(InputRegisterAddressing, 2005, Error, "addressing operations are not allowed on input registers '%s'")           \
  X(TemporaryRegisterAddressing, 2005, Error, "addressing operations not allowed on temporary registers '%s'")       \
  X(ConstantNotVariable, 2005, Error, "constant register '%s' must be defined as a variable '%s'")                   \
  X(ConstantAddressOutOfBounds, 2005, Error,                                                                         \
    "constant register address out of bounds on constant '%s', size %d, offset %d")                                  \
  X(InvalidOutputRegister, 2005, Error, "Invalid output register '%s' specified")                                    \
  X(OutputRegisterAddressing, 2005, Error, "addressing operations are not allowed on output registers '%s'")         \
  X(InvalidRegisterName, 2005, Error,                                                                                \
    "'%s' is not a valid register name.  Registers must start with v_, r_, c_, b_, or i_ depending on the register " \
    "type. (o_ for vs_3_0 only)")                                                                                    \
  X(OnlyA0xRelative, 2007, Error, "only a0.x is allowed as a relative address register in vs_1_1")                   \
  X(RelativeDestination, 2008, Error,                                                                                \
    "relative addressing of destination parameters is not supported in this shader version")                         \
  X(TwoAddressRegistersInSum, 2009, Error,                                                                           \
    "only one address register reference allowed in a relative address expression")                                  \
  X(TwoAddressRegisters, 2009, Error,                                                                                \
    "only one address register reference is allowed in a relative address expression")                               \
  X(InvalidComplement, 2010, Error, "invalid complement expression")                                                 \
  X(NegateAndDivide, 2011, Error, "negate and divide modifiers cannot be combined")                                  \
  X(ComplementWithModifiers, 2012, Error, "complement cannot be used with other modifiers")                          \
  X(SubModifiers, 2013, Error, "source modifiers incompatible with SUB instruction")                                 \
  X(DestinationModifiers, 2014, Error, "source modifiers are not allowed on destination parameters")                 \
  X(AsmVs10Replaced, 2015, Warning, "vs_1_0 is no longer supported; using vs_1_1")                                   \
  X(AsmPs10Replaced, 2015, Warning, "ps_1_0 is no longer supported; using ps_1_1")                                   \
  X(NotWithModifiers, 2018, Error, "not cannot be used with other modifiers")                                        \
  X(PredicateModifiers, 2019, Error, "source modifiers are not allowed on predicates")                               \
  X(RelativePredicate, 2020, Error, "relative addressing of predicates is not supported in this shader version")     \
  X(PredicatesUnsupported, 2021, Error, "predicates are not supported in this shader version")                       \
  X(ScalarMasked, 2022, Error, "scalar registers cannot be masked")                                                  \
  X(ScalarSwizzled, 2022, Error, "scalar registers cannot be swizzled")                                              \
  X(InstructionNotInVersion, 2023, Error, "'%s' is not a valid instruction in this shader version")                  \
  X(InvalidInstructionModifiers, 2024, Error, "invalid instruction modifiers '%s'")                                  \
  X(FragmentFlowControl, 2025, Error,                                                                                \
    "call, callnz, label, and ret instructions are not allowed in assembly fragments")                               \
  X(FragmentTempMatrix, 2026, Error, "Matrices cannot be specified in temp registers with the fragment linker")      \
  X(CoissueUnsupported, 2027, Error, "instruction coissue is not supported in this shader version")                  \
  X(PredicationUnsupported, 2028, Error, "instruction predication is not supported in this shader version")          \
  X(ComplementUnsupported, 2029, Error, "complement is not supported in this shader version")                        \
  X(AsmDebugInfoTooLarge, 2030, Warning, "debug info exceeds maximum comment size; no debug info emitted")           \
  X(FragmentInfoTooLarge, 2031, Error, "fragment info exceeds maximum comment size")                                 \
  X(InternalInstructionSizeMismatch, 0, Error, "internal error: instruction size mismatch")                          \
  /* Fragment constants and fragment gathering */                                                                   \
  X(BoolRegisterType, 2900, Error, "boolean constant register '%s' must be defined as a variable of type bool only") \
  X(IntRegisterType, 2901, Error,                                                                                    \
    "integer constant register '%s' must be defined as a variable of type int3 or int4 only")                        \
  X(ConstantRegisterTooHigh, 2902, Error, "Constant variable '%s' bound to register greater than 8191 (%d requested)") \
  X(FragmentCompileFailed, 2903, Error, "There was an error compiling the fragment '%s'")                             \
  X(FragmentInternalError, 2904, Error, "Internal error compiling the fragment '%s'")                                \
  X(SamplerTypeMissing, 2905, Error,                                                                                 \
    "Sampler variable '%s' does not specify the sampler type.  Explicit sampler types required for asm fragments.")  \
  GXL_SHADER_HLSL_MESSAGES(X)                                                                                        \
  GXL_SHADER_BACKEND_MESSAGES(X)

// HLSL parser, declarations, expression checks and folding; compile driver and lowering.
#define GXL_SHADER_HLSL_MESSAGES(X)                                                                                  \
  X(HlslSyntaxError, 3000, Error, "syntax error: unexpected %s")                                                     \
  X(Redefinition, 3003, Error, "redefinition of '%s'")                                                               \
  X(UndeclaredIdentifier, 3004, Error, "undeclared identifier '%s'")                                                 \
  X(InvalidUse, 3005, Error, "invalid use of '%s'")                                                                  \
  X(IdentifierClassMismatch, 3005, Error, "'%s': identifier represents a %s, not a %s")                              \
  X(CannotBeExtern, 3006, Error, "'%s': %s cannot be declared 'extern'")                                             \
  X(FunctionCannotBeExtern, 3006, Error, "'%s': functions cannot be declared 'extern'")                              \
  X(ExternCannotBeStatic, 3007, Error, "'%s': extern %s cannot be declared 'static'")                                \
  X(UniformCannotBeStatic, 3007, Error, "'%s': uniform %s cannot be declared 'static'")                              \
  X(CannotBeStatic, 3007, Error, "'%s': %s cannot be declared 'static'")                                             \
  X(CannotBeVolatile, 3008, Error, "'%s': %s cannot be declared 'volatile'")                                         \
  X(CannotHave, 3009, Error, "'%s': %s cannot have %ss")                                                             \
  X(NonNumericUniformCannotHave, 3009, Error, "'%s': non-numeric uniform %s cannot have %ss")                        \
  X(MustBeLiteral, 3011, Error, "'%s': %s must be a literal expression")                                             \
  X(MissingValue, 3012, Error, "'%s': missing %s")                                                                   \
  X(FunctionArgumentCount, 3013, Error, "'%s': function does not take %u parameter%s")                               \
  X(IntrinsicArgumentCount, 3013, Error, "'%s': intrinsic function does not take %u parameter%s")                    \
  X(ConstructorArgumentCount, 3014, Error, "incorrect number of arguments to numeric-type constructor")              \
  X(NamedConversion, 3017, Error, "'%s': cannot %sconvert from '%s' to '%s'")                                        \
  X(Conversion, 3017, Error, "cannot %sconvert from '%s' to '%s'")                                                   \
  X(ObjectToNumeric, 3017, Error, "cannot convert from 'object type' to 'numeric type'")                             \
  X(InvalidSubscript, 3018, Error, "invalid subscript '%s'")                                                         \
  X(FloatExpected, 3019, Error, "float expected")                                                                    \
  X(TypeMismatch, 3020, Error, "type mismatch")                                                                      \
  X(ConditionalNotNumeric, 3020, Error, "conditional must be numeric")                                               \
  X(ConditionalValuesMismatch, 3020, Error, "type mismatch between conditional values")                              \
  X(ConditionalDimension, 3020, Error, "dimension of conditional does not match value")                              \
  X(ArrayExpected, 3021, Error, "array expected")                                                                    \
  X(NumericExpected, 3022, Error, "scalar, vector, or matrix expected")                                              \
  X(ConstLValue, 3025, Error, "l-value specifies const object")                                                      \
  X(FoldIndexOutOfBounds, 3030, Error, "array index out of bounds")                                                  \
  X(FoldImaginarySquareRoot, 3031, Error, "imaginary square root")                                                   \
  X(FoldIndefiniteLog, 3032, Error, "infinite/indefinite log")                                                       \
  X(FoldIndefinitePower, 3032, Error, "indefinite power")                                                            \
  X(FoldDivisionByZero, 3033, Error, "division by zero")                                                             \
  X(CannotBeConst, 3035, Error, "'%s': %s cannot be declared 'const'")                                               \
  X(FormalParameterRedefinition, 3036, Error, "redefinition of formal parameter '%s'")                               \
  X(ConstructorNotNumeric, 3037, Error, "constructors only defined for numeric base types")                          \
  X(MustBeNumeric, 3038, Error, "'%s': %s must be numeric")                                                          \
  X(ReturnNotNumeric, 3038, Error, "'%s': function return value must be numeric")                                    \
  X(CannotBeTargetSpecific, 3039, Error, "'%s': %s cannot be target specific")                                       \
  X(CannotHaveAnnotations, 3040, Error, "'%s': %s cannot have annotations")                                          \
  X(UnsupportedCompilerTarget, 3041, Error, "unsupported compiler target '%s'")                                      \
  X(CannotHaveSemantics, 3043, Error, "'%s': %s cannot have semantics")                                              \
  X(MissingDefaultValue, 3044, Error, "'%s': missing default value for parameter '%s'")                              \
  X(OutputOnlyCannotHave, 3045, Error, "'%s': output only %s cannot have %ss")                                       \
  X(OutputParameterConst, 3046, Error, "'%s': output paramaters cannot be declared 'const'")                         \
  X(CannotBeUniform, 3047, Error, "'%s': %s cannot be declared 'uniform'")                                           \
  X(FunctionCannotBeUniform, 3047, Error, "'%s': functions cannot be declared 'uniform'")                            \
  X(DuplicateUsages, 3048, Error, "duplicate usages specified")                                                      \
  X(ScalarExpected, 3051, Error, "scalar expected")                                                                  \
  X(VectorDimensionRange, 3052, Error, "vector dimension must be between 1 and %u")                                  \
  X(MatrixDimensionsRange, 3053, Error, "matrix dimensions must be between 1 and %u")                                \
  X(CannotBeShared, 3054, Error, "'%s': %s cannot be declared 'shared'")                                             \
  X(CannotBeInline, 3055, Error, "'%s': %s cannot be declared 'inline'")                                             \
  X(ArrayDimensionsNotLiteral, 3058, Error, "array dimensions must be literal scalar expressions")                   \
  X(NamedArrayDimensionsNotLiteral, 3058, Error, "'%s': array dimensions must be literal scalar expressions")        \
  X(ArrayDimensionRange, 3059, Error, "'%s': array dimension must be between 1 and 65536")                           \
  X(VectorDimensionNotLiteral, 3060, Error, "vector dimension must be a literal scalar expression")                  \
  X(MatrixDimensionsNotLiteral, 3061, Error, "matrix dimensions must be literal scalar expressions")                 \
  X(CannotBeUniformOut, 3062, Error, "'%s': %s cannot be declared 'uniform out'")                                    \
  X(ObjectLiteralInFunction, 3064, Error, "object literals are not allowed inside functions")                        \
  X(ObjectAssignmentInFunction, 3065, Error, "object assignments are not allowed inside functions")                  \
  X(AmbiguousCall, 3067, Error, "'%s': ambiguous function call")                                                     \
  X(ReturnDiffersFromPrototype, 3068, Error, "'%s': function return value differs from prototype")                   \
  X(AlreadyHasBody, 3069, Error, "'%s' already has a body")                                                          \
  X(FoldIndefiniteAcos, 3070, Error, "indefinite acos")                                                              \
  X(FoldIndefiniteAsin, 3071, Error, "indefinite asin")                                                              \
  X(ArrayDimensionsNotExplicit, 3072, Error, "'%s': array dimensions of %s must be explicit")                        \
  X(SecondaryDimensionsNotExplicit, 3073, Error, "'%s': secondary array dimensions must be explicit")                \
  X(ImplicitArrayMissing, 3074, Error, "'%s': implicit array missing %s")                                            \
  X(ImplicitArrayMismatch, 3075, Error, "'%s': implicit array type does not match %s")                               \
  X(VoidFunctionSemantic, 3076, Error, "'%s': void function cannot have a semantic")                                 \
  X(MatrixOrderOnNonMatrix, 3077, Error, "non-matrix types cannot be declared 'row_major' or 'column_major'")         \
  X(LoopVariableOutsideScope, 3078, Warning,                                                                         \
    "'%s': loop control variable used outside for-loop scope conflicts with a previous declaration in the outer "    \
    "scope; most recent definition used")                                                                            \
  X(VoidFunctionReturnsValue, 3079, Error, "'%s': void functions cannot return a value")                             \
  X(ReturnValueMissing, 3080, Error, "'%s': function must return a value")                                           \
  X(CommaForInitializerList, 3081, Warning, "comma expression used where an initializer list may have been intended") \
  X(ObjectInStruct, 3082, Error, "Object types are not allowed in structs")                                          \
  X(InternalProductionFailedBang, 0, Error, "internal error: production failed!")                                    \
  X(InternalUnhandledProduction, 0, Error, "internal error: unhandled production")                                   \
  X(InternalUnknownNode, 0, Error, "internal error: unknown node")                                                   \
  X(InternalScopeUnderflow, 0, Error, "internal error: scope underflow")                                             \
  X(InternalScopeMissing, 0, Error, "internal error: scope missing")                                                 \
  X(InternalExpressionTooComplex, 0, Error, "internal error: expression too complex")                                \
  X(ObjectArrayExpression, 3500, Error, "expressions returning objects in an array or struct not yet implemented")   \
  X(ObjectExpression, 3500, Error, "non-trivial object expressions not yet implemented")                             \
  X(RecursiveFunction, 3500, Error, "'%s': recursive functions not yet implemented")                                 \
  X(AsymmetricReturns, 3500, Error, "asymetric returns from if statements not yet implemented")                      \
  X(ArrayNotLValue, 3500, Error, "array reference cannot be used as an l-value; not natively addressable")           \
  X(IntrinsicNotImplemented, 3500, Error, "intrinsic function '%s' is not yet implemented")                          \
  X(CompoundAssignmentSideEffects, 3500, Error,                                                                      \
    "compound assignment to an expression with side effects not yet implemented")                                    \
  X(EntryPointNotFound, 3501, Error, "'%s': entrypoint not found")                                                   \
  X(OverloadNotFound, 3501, Error, "overloaded function not found")                                                  \
  X(InputMissingSemantics, 3502, Error, "'%s': input parameter '%s' missing semantics")                              \
  X(ReturnMissingSemantics, 3503, Error, "'%s': function return value missing semantics")                            \
  X(OutputMissingSemantics, 3503, Error, "'%s': output parameter '%s' missing semantics")                            \
  X(LoweringIndexOutOfBounds, 3504, Error, "array index out of bounds")                                              \
  X(CompileVs10Replaced, 3505, Warning, "vs_1_0 is no longer supported; using vs_1_1")                               \
  X(CompilePs10Replaced, 3505, Warning, "ps_1_0 is no longer supported; using ps_1_1")                               \
  X(UnrecognizedCompilerTarget, 3506, Error, "unrecognized compiler target '%s'")                                    \
  X(FunctionMustReturnValue, 3507, Error, "'%s': function must return a value")                                      \
  X(OutputNeverAssigned, 3508, Error, "'%s': output parameter '%s' never assigned a value")                          \
  X(Tex1DDependent, 3509, Warning, "tex1D will considered dependent since texcoord was not declared as at least float2") \
  X(MissingImplementation, 3510, Error, "function '%s' missing implementation")                                      \
  X(LoopDoesNotTerminate, 3511, Error, "loop does not appear to terminate in a timely manner (%d iterations)")       \
  X(SamplerIndexNotLiteral, 3512, Error, "sampler array index must be a literal expression")                         \
  X(InternalExpressionExpected, 0, Error, "internal error: expression expected")                                     \
  X(InternalUnrecognizedStatement, 0, Error, "internal error: unrecognized statement")                               \
  X(InternalUnrecognizedValue, 0, Error, "internal error: unrecognized value")                                       \
  X(InternalUnrecognizedExpression, 0, Error, "internal error: unrecognized expression")                             \
  X(InternalLValueExpected, 0, Error, "internal error: l-value expected")                                            \
  X(InternalResultRegisterInvalid, 0, Error, "internal error: result register invalid")                              \
  X(InternalArgumentMissingContext, 0, Error, "internal error: argument missing context (A%u)")

// Back end: optimiser and folding (4000s), target limits and mapping (4500s),
// target warnings (4700s), internal consistency (4800s and uncoded).
#define GXL_SHADER_BACKEND_MESSAGES(X)                                                                               \
  X(InternalUsedUninitialized, 0, Error, "internal error: argument used without having been initialized (A%u, I%u)") \
  X(InternalReadFromArgumentPool, 0, Error, "internal error: cannot read from argument pool (A%u)")                 \
  X(InternalWriteToArgumentPool, 0, Error, "internal error: cannot write to argument pool (A%u, I%u)")              \
  X(InternalComponentOutOfRange, 0, Error, "internal error: component out of range")                                 \
  X(InternalNoPixelProfile, 0, Error, "internal error: no profile exists for this pixel shader version")             \
  X(InternalNoProfile, 0, Error, "internal error: no profile exists for this shader version")                        \
  X(InternalNoVertexProfile, 0, Error, "internal error: no profile exists for this vertex shader version")           \
  X(InternalPoolPortConstraints, 0, Error, "internal error: non-vectorized pool violated port constraints")          \
  X(InternalOutputNeverInitialized, 0, Error, "internal error: output argument was never initialized (A%u)")         \
  X(InternalResultPortConstraints, 0, Error, "internal error: result violated port constraints")                     \
  X(InternalUnexpectedInputType, 0, Error, "internal error: unexpected input register type")                         \
  X(InternalUnexpectedOutputType, 0, Error, "internal error: unexpected output register type")                       \
  X(InternalOutputMissingSemantic, 0, Error, "internal error: output register missing semantic")                     \
  X(InternalInputMissingSemantic, 0, Error, "internal error: input register missing semantic")                       \
  X(OptimizationDidNotConverge, 0, Warning, "internal warning: optimization did not converge")                       \
  X(UsedUninitialized, 4000, Error, "variable '%s' used without having been completely initialized")                 \
  X(IndefiniteLogarithm, 4002, Error, "indefinite logarithm")                                                        \
  X(ImaginarySquareRoot, 4003, Error, "imaginary square root")                                                       \
  X(TooManyActiveValues, 4004, Error, "program too complex; there are more active values than registers")            \
  X(WorkBoundExceeded, 4004, Error, "program too complex; the compile exceeded its work bound")                      \
  X(IndefiniteArcsine, 4005, Error, "indefinite arcsine")                                                            \
  X(IndefiniteArccosine, 4006, Error, "indefinite arccosine")                                                        \
  X(IndexOutOfBounds, 4007, Error, "array index out of bounds")                                                      \
  X(ConditionalBlockTooComplex, 4500, Error, "Conditional block too complex")                                        \
  X(TooManyStaticFlowInstructions, 4500, Error, "more than %d static flow-control instructions")                     \
  X(LoopsNestedTooDeep, 4500, Error, "loop and rep blocks nested deeper than %d")                                    \
  X(StaticFlowNestedTooDeep, 4500, Error, "static flow control nested deeper than %d")                               \
  X(DynamicFlowNestedTooDeep, 4500, Error, "dynamic flow control nested deeper than %d")                             \
  X(TextureLoadFromColor, 4500, Error, "cannot perform texture load that is in anyway dependent on COLOR registers")  \
  X(ClipFromConstant, 4500, Error, "clip cannot be performed from a constant or literal")                            \
  X(ClipInTextureShader, 4500, Error, "clip not supported in texture shaders")                                       \
  X(DependentChainTooLong, 4500, Error, "dependent texture read chain cannot exceed 1 in ps_1_4")                    \
  X(OverlappingRegisterSemantics, 4500, Error, "overlapping register semantics not yet implemented '%c%u'")          \
  X(FarTooLargeForPs1x, 4500, Error, "program is order of magnitude too large to compile to ps_1_%i")                \
  X(FarTooLargeForPs14, 4500, Error, "program is order of magnitude too large to compile to ps_1_4")                 \
  X(TooManyTextureLoads, 4500, Error, "shader too complex. Try reducing number of texture loads used")               \
  X(TooManyTxArguments, 4500, Error, "too many arguments to target TX")                                              \
  X(TooManyTxOutputs, 4500, Error, "too many outputs to target TX")                                                  \
  X(TooComplexForPs14, 4500, Error, "program too complex to compile to ps_1_4")                                      \
  X(BoolRegisterIndex, 4500, Error, "maximum bool register index exceeded")                                          \
  X(ClipFromSwizzle, 4500, Error, "cannot clip from a swizzled vector")                                              \
  X(ClipNeedsFloat3, 4500, Error, "clip must be performed from a float3 vector for ps_1_x models")                   \
  X(ClipNeedsFloat4, 4500, Error, "clip must be performed from a float4 vector for ps_2_0 models")                   \
  X(ClipInputRegisterType, 4500, Error, "internal error: unexpected input register type")                            \
  X(InconsistentSemantic, 4501, Error, "Inconsistent semantic definition: %s and %s")                                \
  X(InvalidNamed, 4502, Error, "invalid %s")                                                                         \
  X(InvalidInputSemanticModifier, 4502, Error, "invalid input semantic '%s', only _centroid allowed")                \
  X(InvalidOutputSemanticReference, 4502, Error, "invalid reference to output semantic '%s%d'")                      \
  X(SemanticNotInPs1x, 4502, Error, "%s semantic '%s' not yet implemented in ps_1_x")                                \
  X(TexcoordOutOfRange, 4502, Error, "'texcoord' reference exceeds valid range for this shader model (max: %i)")     \
  X(InvalidSemantic, 4502, Error, "invalid %s semantic '%s'")                                                        \
  X(InvalidSemanticReference, 4502, Error, "invalid reference to %s semantic '%s'")                                  \
  X(InvalidInputSemanticReference, 4502, Error, "invalid reference to input semantic '%s%d'")                        \
  X(OverlappingOutputSemantics, 4504, Error, "overlapping output semantics")                                         \
  X(TempRegisterIndex, 4505, Error, "maximum temp register index exceeded")                                          \
  X(SamplerRegisterIndex, 4505, Error, "maximum sampler register index exceeded")                                    \
  X(LoopRegisterIndex, 4505, Error, "maximum loop register index exceeded")                                          \
  X(InputRegisterIndex, 4506, Error, "maximum input register index exceeded")                                        \
  X(TooManyInputs, 4506, Error, "maximum number of inputs exceeded")                                                 \
  X(OutOfConstantRegisters, 4507, Error, "program too complex: exceeded available constant registers.")              \
  X(TooManyConstantRegisters, 4507, Error, "exceeded maximum constant registers")                                    \
  X(ConstantRegisterIndex, 4507, Error,                                                                              \
    "maximum constant register index exceeded - Try reducing number of constants referenced")                        \
  X(AddressRegisterIndex, 4508, Error, "maximum address register index exceeded")                                    \
  X(VariableBoundTwice, 4509, Error, "cannot bind the same variable to multiple constants in the same constant bank") \
  X(InvalidRegisterSemantic, 4509, Error,                                                                            \
    "invalid register semantic '%s', or variable must be bound to multiple register banks (%c register binding "     \
    "required)")                                                                                                     \
  X(TooManySamplers, 4510, Error, "maximum number of samplers exceeded. %s target can have a maximum of %i samplers") \
  X(SamplerIndexExceeded, 4510, Error, "maximum sampler register index exceeded")                                    \
  X(RelativeInPixelShader, 4511, Error, "relative addressing not allowed for pixel shaders")                         \
  X(RelativeInPs1x, 4511, Error, "relative addressing not supported in ps_1_x")                                      \
  X(RelativeInVs10, 4511, Error, "relative addressing not supported in vs_1_0 instruction set")                      \
  X(RelativeUnsupported, 4511, Error, "target does not support relative addressing")                                 \
  X(TexcoordWInPs1x, 4512, Error, "cannot access texture coordinate w-component in a general way in ps_1_%i")       \
  X(TexcoordWInExpression, 4512, Error, "cannot access w component from texcoord in general expression")             \
  X(DependentReadOnColor, 4513, Error, "cannot perform dependent texture read which in any way is based on color inputs") \
  X(TextureFromNonTexcoord, 4513, Error, "texture loads or clips cannot be from inputs not marked TEXCOORD")          \
  X(ProgramTooBig, 4514, Error, "program too big")                                                                   \
  X(SamplerArrayStage, 4515, Error, "cannot bind sampler to sampler array, sampler must be bound to %i")             \
  X(SamplerArrayStagePs1x, 4515, Error,                                                                              \
    "cannot bind sampler to sampler array. In ps_1_%i, samplers must be bound to the same stage as their TEXCOORD")  \
  X(SamplerUserStagePs1x, 4515, Error,                                                                               \
    "cannot bind sampler to user specified stage. In ps_1_%i, samplers must be bound to the same stage as their "    \
    "TEXCOORD")                                                                                                      \
  X(SamplerUserStage, 4515, Error, "cannot bind sampler to user specified stage, sampler must be bound to %i")       \
  X(TexcoordUsedBySampler, 4516, Error, "cannot read from a texcoord which was used as input in a sampler")          \
  X(SharedTexcoord, 4516, Error, "cannot read from same texcoord. In ps_1_%i, each sampler must have a unique TEXCOORD") \
  X(ConflictingArrayBindings, 4517, Error, "conflicting sampler array bindings")                                     \
  X(ConflictingUserBindings, 4517, Error,                                                                            \
    "conflicting user defined sampler bindings. If two samplers have the same user binding, they cannot both be "    \
    "used in the same shader")                                                                                       \
  X(BoundSamplerTwice, 4518, Error,                                                                                  \
    "cannot perform texture lookup twice from a user bound or similar array access sampler in ps_1_%i")              \
  X(TooManyTexcoordReads, 4519, Error, "too many texture loads and reads from texcoords")                            \
  X(TexcoordLookupBeforePs14, 4520, Error, "can read from texcoord and use it for texlookup only in ps_1_4 and higher") \
  X(OutOfTemporaries, 4521, Error, "program too complex: out of temporary registers")                                \
  X(DependentReadUnmapped, 4523, Error, "cannot map this dependent texture read to ps_1_%i")                         \
  X(DependentReadsUnmatched, 4523, Error,                                                                            \
    "shader cannot compile to a ps_1_%i shader because this model can't match all the dependent texture read(s) "    \
    "this shader requires")                                                                                          \
  X(TexmCoordinateReused, 4524, Error, "unable to match texm because computed texcoord is used in shader")           \
  X(TexmCoordinatesMisplaced, 4525, Error,                                                                           \
    "unable to match texm* because the source inputs are not in appropriate texture coordinates; see the ps_1_%i "   \
    "assembly reference")                                                                                            \
  X(TexmTexcoordModifier, 4526, Error, "cannot match to texm* because texm* cannot have source modifiers on input texcoord") \
  X(TexmLoadModifier, 4527, Error, "cannot match to texm* because texm* can only have bx2 modifier on input texload") \
  X(DepthNotScalar, 4528, Error, "DEPTH must be a scalar")                                                           \
  X(ColorNotVector4, 4529, Error, "COLOR%d must be a four-component vector")                                         \
  X(Color0Incomplete, 4530, Error, "pixel shader must minimally write all four components of COLOR0")                \
  X(NotSupportedOnPs1x, 4532, Error, "%s%s is not supported on ps_1_%i")                                             \
  X(UnmappedPixelExpression, 4532, Error, "cannot map expression to pixel shader instruction set")                   \
  X(UnmappedVertexExpression, 4532, Error, "cannot map expression to vertex shader instruction set")                 \
  X(UnmappedTextureExpression, 4532, Error, "cannot map expression to texture shader instruction set")               \
  X(DependentReadOnPs1x, 4532, Error, "dependent texture read not supported on ps_1_%i")                             \
  X(TexlodUnsupported, 4532, Error, "texlod not supported on this target")                                           \
  X(SwizzleOnPs14, 4533, Error, "cannot map swizzle to ps_1_4")                                                      \
  X(DoubleDependentRead, 4534, Error, "cannot perform double dependent texture read in ps_1_x")                      \
  X(Texreg2ArGbModifiers, 4535, Error,                                                                               \
    "cannot match to texreg2ar or texreg2gb instruction because cannot have input modifiers")                        \
  X(Texreg2RgbModifiers, 4535, Error, "cannot match to texreg2rgb instruction because can only have input modifier _bx2") \
  X(Texreg2RgbUnsupported, 4536, Error,                                                                              \
    "expression can only be map to texreg2rgb, but this instruction is not supported on 1_%i")                       \
  X(WriteMaskEmulation, 4537, Error, "unable to emmulate write masks for ps_1_%i shader model")                      \
  X(ColorOutputsNotContiguous, 4538, Error, "COLOR outputs must be contiguous from COLOR0 to COLORn")                \
  X(SamplerMismatch, 4539, Error, "sampler mismatch: sampler used inconsistently")                                   \
  X(FogNotScalar, 4540, Error, "FOG must be a scalar")                                                               \
  X(PsizeNotScalar, 4540, Error, "PSIZE must be a scalar")                                                           \
  X(PositionIncomplete, 4541, Error, "vertex shader must minimally write all four components of POSITION")           \
  X(MultiRegisterSemanticInFragment, 4543, Error, "multi-register semantics are not allowed in fragments '%s'")      \
  X(ClipNotFromVector3, 4544, Error, "Clip must be from a 3 vector in ps_1_%i")                                      \
  X(NoTextureLookups, 4545, Error, "%s target does not support texture lookups")                                     \
  X(SamplerIndexTooHigh, 4546, Error, "maximum sampler register index exceeded")                                     \
  X(DebugInfoTooLarge, 4547, Warning, "debug info exceeds maximum comment size; no debug info emitted")              \
  X(ConstantTableTooLarge, 4548, Error, "constant table info exceeds maximum comment size")                          \
  X(ExpressionCodeTooLarge, 4548, Error, "expression code exceeds maximum comment size")                             \
  X(PredicateRegisterIndex, 4549, Error, "maximum predicate register index exceeded")                                \
  X(BooleanRegisterIndex, 4550, Error, "maximum boolean register index exceeded - Try reducing number of constant branches") \
  X(IteratorRegisterIndexDepth, 4551, Error,                                                                         \
    "maximum iterator register index exceeded - Try reducing number of loops and depth of loops")                    \
  X(IteratorRegisterIndex, 4551, Error, "maximum iterator register index exceeded - Try reducing number of loops")   \
  X(GeneralLoopUnmapped, 4552, Error, "cannot map general loop to this instruction set")                             \
  X(RelativeTooDeep, 4553, Error, "relative address refrences too deep")                                             \
  X(VectorConditionalEmulation, 4554, Error, "unable to emulate vector conditionals in ps_1_%i shader model")        \
  X(InvalidSemanticType, 4555, Error, "invalid type used for '%s' %s semantics")                                     \
  X(BiasMissed, 4701, Warning, "_bias opportunity missed because source was not clamped 0 to 1")                     \
  X(ComplementMissed, 4702, Warning, "complement opportunity missed because input result WAS clamped from 0 to 1")   \
  X(LerpNotSaturated, 4703, Warning, "cannot match lerp because lerp factor is not _sat'd")                          \
  X(LiteralClamped, 4704, Warning, "literal values outside range -1 to 1 are clamped on all ps_1_x shading models")  \
  X(SemanticDeprecated, 4705, Warning, "%s semantic '%s' has been deprecated; use '%s%d' instead")                   \
  X(SemanticsDeprecated, 4705, Warning, "%s semantics '%s' has been deprecated; use '%s%d' instead")                 \
  X(TexcoordClamped, 4707, Warning,                                                                                  \
    "texcoord inputs used directly (that is, other than sampling from textures) in shader body in ps_1_%i are "      \
    "always clamped from 0 to 1")                                                                                    \
  X(InputRemapFailed, 4801, Error, "internal error: InputRemap component matchup failed")                            \
  X(InputRemapFailedLate, 4802, Error, "internal error: InputRemap component matchup failed")                        \
  X(ArgumentsNotVectorized, 4803, Error, "internal error: arguments not vectorized")                                 \
  X(TexldAliasFound, 4806, Error, "internal error: texld alias found")                                               \
  X(UnvectorizedRegister, 4808, Error, "internal error: unvectorized register found")                                \
  X(UnvectorizedResultGroup, 4809, Error, "internal error: unvectorized register found")                             \
  X(IllformedWriteField, 4810, Error, "internal error: illformed write field")                                       \
  X(UnexpectedArgumentType, 4812, Error, "internal error: unexpected argument type")                                 \
  X(UnexpectedOutputRegister, 4813, Error, "internal error: unexpected output register")                             \
  X(TextureDeclarationAlias, 4814, Error, "internal error: unexpected Alias on texture declaration")                 \
  X(OutputWriteNotMov, 4817, Error, "internal error: write to output with instruction other than mov")              \
  X(InvalidSwizzleFound, 4818, Error, "internal error: invalid swizzle found")                                       \
  X(MalformedClip, 4820, Error, "internal error: malformed clip found")                                              \
  X(OverlappingOutputWrites, 4821, Error, "internal error: overlapping output writes")                               \
  X(MultipleWriteToOutput, 4822, Error, "internal error: multiple write to same output")                             \
  X(UppropagationFailed, 4823, Error, "internal error: uppropagation failed")                                        \
  X(DstTestFailure, 4825, Error, "internal error: DST test failure")                                                 \
  X(DstTestFailureLate, 4826, Error, "internal error: DST test failure")                                             \
  X(MultipleWriteInDst, 4827, Error, "internal error: multiple write to same output")                                \
  X(InstructionMissingOutputs, 4831, Error, "internal error: instruction missing outputs")                           \
  X(IfWiderThanOne, 4832, Error, "internal error: IF with size greater then 1 found")                                \
  X(IfPredicatesMismatch, 4832, Error, "internal error: if block with non matching predicates found")                \
  X(EndifMismatch, 4833, Error, "internal error: endif mismatch")                                                    \
  X(UnexpectedEndifFound, 4833, Error, "internal error: unexpected endif found")                                          \
  X(MultipleBreaks, 4835, Error, "internal error: multiple breaks found")

#define GXL_SHADER_DECLARE_MESSAGE(name, code, severity, format) \
  inline constexpr char k##name##Format[] = format;                \
  inline constexpr Message k##name{code, MessageSeverity::severity, k##name##Format};
namespace msg {
GXL_SHADER_MESSAGES(GXL_SHADER_DECLARE_MESSAGE)
}  // namespace msg
#undef GXL_SHADER_DECLARE_MESSAGE

// Every entry, in catalogue order.
#define GXL_SHADER_LIST_MESSAGE(name, code, severity, format) msg::k##name,
inline constexpr Message kAllMessages[] = {GXL_SHADER_MESSAGES(GXL_SHADER_LIST_MESSAGE)};
#undef GXL_SHADER_LIST_MESSAGE

}  // namespace gxl::shader
