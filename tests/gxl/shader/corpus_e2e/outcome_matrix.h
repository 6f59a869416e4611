// The checked-in outcome of every corpus cell (file, entry, profile, option
// word): "compiled" or the code of the message that stopped it.
#pragma once

#include <map>
#include <string>

namespace corpuse2e {

// "mame/bloom.fx ps_main ps_2_0 0" -> "X4004"; entry "-" for assembly.
using Matrix = std::map<std::string, std::string>;

std::string CellKey(const std::string& file, const char* entry, const std::string& profile, unsigned options);

// The rows one test owns: file, entry and shader model ("mame/bloom.fx
// ps_main ps_2").
std::string Owner(const std::string& key);

// The checked-in matrix beside this test's source.
std::string MatrixPath();
// False with the reason when the file cannot be read or a line is malformed.
bool LoadMatrix(const std::string& path, Matrix* matrix, std::string* error);
// Replaces the rows of `cells`' owners in the file at `path` (made when
// missing) and keeps the others, under a lock: tests running at once each
// write their own rows.
bool MergeMatrix(const std::string& path, const Matrix& cells, std::string* error);

}  // namespace corpuse2e
