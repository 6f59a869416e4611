// Kernel services: files, mapping, virtual memory, synchronisation, system
// information, debug output, code pages, text utilities, modules and resources.
// UTF-8 is the 8-bit code page; W calls take char16_t text and convert.
#pragma once

#include <cstdarg>

#include "platform/win_types.h"

// ---------------------------------------------------------------------------
// Last error (per thread)
DWORD GetLastError();
void SetLastError(DWORD code);

// ---------------------------------------------------------------------------
// Files
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 1;
constexpr DWORD FILE_SHARE_WRITE = 2;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x10000000u;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
// Further error numbers the file and memory calls report.
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_WRITE_PROTECT = 19;
constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_DIRECTORY = 267;
constexpr DWORD ERROR_INVALID_ADDRESS = 487;

struct SECURITY_ATTRIBUTES;
struct OVERLAPPED;

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, OVERLAPPED* overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, OVERLAPPED* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL CloseHandle(HANDLE handle);
BOOL DeleteFileA(LPCSTR name);
BOOL DeleteFileW(LPCWSTR name);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName);
DWORD GetFullPathNameA(LPCSTR name, DWORD size, LPSTR buffer, LPSTR* filePart);

// ---------------------------------------------------------------------------
// File mapping
constexpr DWORD PAGE_NOACCESS = 0x01;
constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD FILE_MAP_READ = 0x0004;

HANDLE CreateFileMappingA(HANDLE file, SECURITY_ATTRIBUTES* security, DWORD protect, DWORD sizeHigh,
                          DWORD sizeLow, LPCSTR name);
LPVOID MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes);
BOOL UnmapViewOfFile(LPCVOID view);

// ---------------------------------------------------------------------------
// Virtual memory
constexpr DWORD MEM_COMMIT = 0x1000;
constexpr DWORD MEM_RESERVE = 0x2000;
constexpr DWORD MEM_DECOMMIT = 0x4000;
constexpr DWORD MEM_RELEASE = 0x8000;

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect);
BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD type);

// ---------------------------------------------------------------------------
// Synchronisation
struct CRITICAL_SECTION {
  alignas(16) unsigned char storage[64];  // a recursive pthread mutex lives here
  bool initialised;
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);

LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand);
LONG InterlockedExchange(volatile LONG* target, LONG value);
LONG InterlockedIncrement(volatile LONG* target);
LONG InterlockedDecrement(volatile LONG* target);

// ---------------------------------------------------------------------------
// System information and version
constexpr WORD PROCESSOR_ARCHITECTURE_INTEL = 0;

struct SYSTEM_INFO {
  WORD wProcessorArchitecture;
  WORD wReserved;
  DWORD dwPageSize;
  LPVOID lpMinimumApplicationAddress;
  LPVOID lpMaximumApplicationAddress;
  DWORD_PTR dwActiveProcessorMask;
  DWORD dwNumberOfProcessors;
  DWORD dwProcessorType;
  DWORD dwAllocationGranularity;
  WORD wProcessorLevel;
  WORD wProcessorRevision;
};
void GetSystemInfo(SYSTEM_INFO* info);

constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOA) == 148);
BOOL GetVersionExA(OSVERSIONINFOA* info);

// ---------------------------------------------------------------------------
// Debug output: one record per call into the debug sink (stderr by default,
// PLATFORM_DEBUG_OUTPUT=stderr|off|<file>; tests capture it).
void OutputDebugStringA(LPCSTR text);
void OutputDebugStringW(LPCWSTR text);
// Raises SIGTRAP unless a test installed a break hook.
void DebugBreak();

// ---------------------------------------------------------------------------
// Code pages (every 8-bit code page means UTF-8)
constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_THREAD_ACP = 3;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;

UINT GetACP();
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR out, int outChars);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int chars, LPSTR out, int outBytes,
                        LPCSTR defaultChar, BOOL* usedDefault);

// ---------------------------------------------------------------------------
// Text utilities. wsprintfA: at most 1,024 characters; `l` means 32 bits.
// Not declared printf-like: its `l` and `%ls` differ from the C library's on LP64.
int wsprintfA(LPSTR out, LPCSTR format, ...);
int wvsprintfA(LPSTR out, LPCSTR format, va_list args);
int lstrcmpiA(LPCSTR a, LPCSTR b);
int lstrlenA(LPCSTR text);
int lstrlenW(LPCWSTR text);
int MulDiv(int number, int numerator, int denominator);

// ---------------------------------------------------------------------------
// Modules and exports, over a registry of named stand-in modules.
HMODULE GetModuleHandleA(LPCSTR name);
HMODULE LoadLibraryA(LPCSTR name);
BOOL FreeLibrary(HMODULE module);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

// ---------------------------------------------------------------------------
// Resources: blocks the program registers (platform::RegisterResource).
#define RT_BITMAP MAKEINTRESOURCEA(2)
#define RT_RCDATA MAKEINTRESOURCEA(10)
#define RT_BITMAPW MAKEINTRESOURCEW(2)
#define RT_RCDATAW MAKEINTRESOURCEW(10)

HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
DWORD SizeofResource(HMODULE module, HRSRC resource);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
BOOL FreeResource(HGLOBAL data);

namespace platform {

// Registers a named block of bytes as a resource of a module (NULL: the program).
// The bytes are not copied and must outlive the registration. Names are strings
// (compared case-insensitively) or integer ids made with MAKEINTRESOURCE.
void RegisterResource(HMODULE module, LPCSTR type, LPCSTR name, const void* bytes, DWORD size);

// The C numeric locale for the calling thread only, restored on destruction.
class ScopedCNumericLocale {
 public:
  ScopedCNumericLocale();
  ~ScopedCNumericLocale();
  ScopedCNumericLocale(const ScopedCNumericLocale&) = delete;
  ScopedCNumericLocale& operator=(const ScopedCNumericLocale&) = delete;

 private:
  void* m_previous;
  void* m_c;
};

// Masks the floating-point exceptions and sets x87 precision to 64 bits for the
// scope; rounding is left alone. The whole environment is restored on destruction.
class ScopedFpEnv {
 public:
  ScopedFpEnv();
  ~ScopedFpEnv();
  ScopedFpEnv(const ScopedFpEnv&) = delete;
  ScopedFpEnv& operator=(const ScopedFpEnv&) = delete;

 private:
  alignas(16) unsigned char m_env[64];
};

}  // namespace platform

// The C runtime's wide character classes of one UTF-16 unit, as the C.UTF-8
// locale classifies it (so letters, digits and punctuation beyond ASCII count),
// whatever the process locale: the platform keeps its own locale object and
// never calls setlocale. Surrogates belong to no class.
namespace platform::crt {
int iswalpha(WCHAR c);
int iswdigit(WCHAR c);
int iswpunct(WCHAR c);
int iswspace(WCHAR c);
}  // namespace platform::crt
