// The public entry points of the shader tools for assembly source and for
// fragment sets: each call is one run that reads the source from a file, a
// module resource or memory, assembles or compiles it and hands out the result
// and the joined message lines as data buffers. Runs of one process are
// serialised by the compiler lock.
#pragma once

#include "gxl/shader/preprocessor/include_source.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/result_codes.h"
#include "platform/win_types.h"

class ConstantTable;
class DataBuffer;

// Flags of the assemble calls: debug information, no validation.
constexpr DWORD kAssembleDebugInfo = 0x1;
constexpr DWORD kAssembleSkipValidation = 0x2;

// Common arguments: defines (optional, ended by a null name), include
// (optional; also supplies a main file when given), flags (the two above),
// code and messages (optional out-pointers). Results: S_OK; GXLERR_INVALIDDATA
// when an error was reported (no code is handed out); D3DERR_INVALIDCALL for
// other flags; the opener's failure when the source cannot be read. messages
// receives the lines of every run that got that far (null when there are
// none), failures included.
HRESULT AssembleShaderFromFileA(LPCSTR file, const gxl::shader::ShaderMacro* defines,
                                gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** code,
                                DataBuffer** messages);
HRESULT AssembleShaderFromFileW(LPCWSTR file, const gxl::shader::ShaderMacro* defines,
                                gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** code,
                                DataBuffer** messages);
HRESULT AssembleShaderFromResourceA(HMODULE module, LPCSTR resource, const gxl::shader::ShaderMacro* defines,
                                    gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** code,
                                    DataBuffer** messages);
HRESULT AssembleShaderFromResourceW(HMODULE module, LPCWSTR resource, const gxl::shader::ShaderMacro* defines,
                                    gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** code,
                                    DataBuffer** messages);
// length 0xFFFFFFFF: the text up to its NUL; a null text only with length 0.
HRESULT AssembleShaderFromMemory(const char* text, UINT length, const gxl::shader::ShaderMacro* defines,
                                 gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** code,
                                 DataBuffer** messages);

// The compile entry points: HLSL compiled from its function `entry` for the
// profile named `profile`. Flags: those of the compile driver within 0x63F
// (0x1 debug information, 0x2 no validation, 0x4 no optimisation, 0x8 and 0x10
// passed to the parser, 0x20 partial precision, 0x200 avoid and 0x400 prefer
// flow control); any other bit gives D3DERR_INVALIDCALL. Common arguments as
// above, plus constantTable (optional): a constant table over the code.
// Results as above; a null entry or a profile that names no compiler target
// gives D3DERR_INVALIDCALL, errors in the source E_FAIL or GXLERR_INVALIDDATA.
// code and constantTable are null on every failure.
constexpr DWORD kCompileFlagMask = 0x63F;

HRESULT CompileShaderFromFileA(LPCSTR file, const gxl::shader::ShaderMacro* defines,
                               gxl::shader::ShaderInclude* include, LPCSTR entry, LPCSTR profile, DWORD flags,
                               DataBuffer** code, DataBuffer** messages, ConstantTable** constantTable);
HRESULT CompileShaderFromFileW(LPCWSTR file, const gxl::shader::ShaderMacro* defines,
                               gxl::shader::ShaderInclude* include, LPCSTR entry, LPCSTR profile, DWORD flags,
                               DataBuffer** code, DataBuffer** messages, ConstantTable** constantTable);
HRESULT CompileShaderFromResourceA(HMODULE module, LPCSTR resource, const gxl::shader::ShaderMacro* defines,
                                   gxl::shader::ShaderInclude* include, LPCSTR entry, LPCSTR profile, DWORD flags,
                                   DataBuffer** code, DataBuffer** messages, ConstantTable** constantTable);
HRESULT CompileShaderFromResourceW(HMODULE module, LPCWSTR resource, const gxl::shader::ShaderMacro* defines,
                                   gxl::shader::ShaderInclude* include, LPCSTR entry, LPCSTR profile, DWORD flags,
                                   DataBuffer** code, DataBuffer** messages, ConstantTable** constantTable);
HRESULT CompileShaderFromMemory(const char* text, UINT length, const gxl::shader::ShaderMacro* defines,
                                gxl::shader::ShaderInclude* include, LPCSTR entry, LPCSTR profile, DWORD flags,
                                DataBuffer** code, DataBuffer** messages, ConstantTable** constantTable);

// The fragment entry points: every vertexfragment and pixelfragment global of
// an HLSL source compiled (flags are the compile options) and packed into one
// fragment set. Common arguments as above, fragments in place of code.
// Results: S_OK; GXLERR_INVALIDDATA when an error was reported; E_FAIL when
// the source has no fragment or a fragment cannot be gathered; the opener's,
// the parser's or a fragment compile's failure. fragments is null on every
// failure; messages as above.
HRESULT CompileFragmentsFromFileA(LPCSTR file, const gxl::shader::ShaderMacro* defines,
                                  gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** fragments,
                                  DataBuffer** messages);
HRESULT CompileFragmentsFromFileW(LPCWSTR file, const gxl::shader::ShaderMacro* defines,
                                  gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** fragments,
                                  DataBuffer** messages);
HRESULT CompileFragmentsFromResourceA(HMODULE module, LPCSTR resource, const gxl::shader::ShaderMacro* defines,
                                      gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** fragments,
                                      DataBuffer** messages);
HRESULT CompileFragmentsFromResourceW(HMODULE module, LPCWSTR resource, const gxl::shader::ShaderMacro* defines,
                                      gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** fragments,
                                      DataBuffer** messages);
HRESULT CompileFragmentsFromMemory(const char* text, UINT length, const gxl::shader::ShaderMacro* defines,
                                   gxl::shader::ShaderInclude* include, DWORD flags, DataBuffer** fragments,
                                   DataBuffer** messages);
