#include "outcome_matrix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <set>
#include <sstream>

#include "tests/support/test_util.h"

namespace corpuse2e {
namespace {

constexpr char kHeader[] =
    "# Outcome of every corpus cell: file, entry (- for assembly), profile, option word, then\n"
    "# \"compiled\" or the code of the error that stopped it. GxlCorpusE2E fails when a cell\n"
    "# changes; regenerate with NURA_CORPUS_MATRIX_WRITE=1 (or a path to write elsewhere).\n";

bool Parse(std::istream& in, Matrix* matrix, std::string* error) {
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string file, entry, profile, options, outcome, extra;
    if (!(fields >> file >> entry >> profile >> options >> outcome) || (fields >> extra))
      return *error = "line " + std::to_string(number) + " is malformed: " + line, false;
    (*matrix)[file + " " + entry + " " + profile + " " + options] = outcome;
  }
  return true;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

}  // namespace

std::string CellKey(const std::string& file, const char* entry, const std::string& profile, unsigned options) {
  return file + " " + (entry ? entry : "-") + " " + profile + " " + std::to_string(options);
}

std::string Owner(const std::string& key) {
  const std::size_t profile = key.find(' ', key.find(' ') + 1) + 1;
  return key.substr(0, profile + 4);
}

std::string MatrixPath() { return nura::test::SourceDir() + "/tests/gxl/shader/corpus_e2e/outcome_matrix.txt"; }

bool LoadMatrix(const std::string& path, Matrix* matrix, std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return *error = "cannot read " + path, false;
  // Shared with other readers, never with a test merging its rows.
  flock(fd, LOCK_SH);
  const std::string text = ReadAll(fd);
  flock(fd, LOCK_UN);
  close(fd);
  std::istringstream in(text);
  return Parse(in, matrix, error);
}

bool MergeMatrix(const std::string& path, const Matrix& cells, std::string* error) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
  if (fd < 0) return *error = "cannot open " + path, false;
  flock(fd, LOCK_EX);
  Matrix merged;
  std::istringstream in(ReadAll(fd));
  bool ok = Parse(in, &merged, error);
  if (ok) {
    std::set<std::string> owners;
    for (const auto& [key, outcome] : cells) owners.insert(Owner(key));
    for (auto it = merged.begin(); it != merged.end();) it = owners.count(Owner(it->first)) ? merged.erase(it) : ++it;
    merged.insert(cells.begin(), cells.end());
    std::string out = kHeader;
    for (const auto& [key, outcome] : merged) out += key + " " + outcome + "\n";
    ok = ftruncate(fd, 0) == 0 && pwrite(fd, out.data(), out.size(), 0) == static_cast<ssize_t>(out.size());
    if (!ok) *error = "cannot write " + path;
  }
  flock(fd, LOCK_UN);
  close(fd);
  return ok;
}

}  // namespace corpuse2e
