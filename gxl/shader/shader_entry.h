// The public entry points of the shader tools for assembly source: each call
// is one run that reads the source from a file, a module resource or memory,
// assembles it and hands out the code and the joined message lines as data
// buffers. Runs of one process are serialised by the compiler lock.
#pragma once

#include "gxl/shader/preprocessor/include_source.h"
#include "gxl/shader/preprocessor/shader_preprocessor.h"
#include "gxl/tex/result_codes.h"
#include "platform/win_types.h"

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
