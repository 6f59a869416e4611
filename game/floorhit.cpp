#include "game/floorhit.h"

#include <algorithm>

namespace {

// An edge on the line at `at` (x of a vertical edge, y of a horizontal one),
// spanning `from` to `to` along the line.
struct Edge {
  std::int32_t at;
  std::int32_t from;
  std::int32_t to;
};

// p and c are the coordinates across the lines, q and d along them. For each
// line that the move crosses, the ends of all edges on it, sorted and paired,
// give the spans that only one floor borders: the outer edges.
bool CrossesEdges(std::vector<Edge>& edges, std::int32_t p, std::int32_t q, std::int32_t c, std::int32_t d,
                  bool endsIncluded) {
  std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.at < b.at; });
  std::vector<std::int32_t> ends;
  for (std::size_t i = 0; i < edges.size();) {
    std::size_t j = i;
    while (j < edges.size() && edges[j].at == edges[i].at) ++j;
    const std::int64_t line = edges[i].at;
    if ((c <= line && line < p) || (p <= line && line < c)) {
      // Where the move crosses the line: the product in integers, the
      // division in floating point, truncated.
      const std::int64_t product = (std::int64_t{d} - q) * (line - p);
      const auto cross =
          static_cast<std::int64_t>(static_cast<double>(product) / static_cast<double>(std::int64_t{c} - p) + q);
      ends.clear();
      for (std::size_t k = i; k < j; ++k) {
        ends.push_back(edges[k].from);
        ends.push_back(edges[k].to);
      }
      std::sort(ends.begin(), ends.end());
      for (std::size_t k = 0; k + 1 < ends.size(); k += 2) {
        const bool inside = endsIncluded ? ends[k] <= cross && cross <= ends[k + 1]
                                         : ends[k] < cross && cross < ends[k + 1];
        if (inside) return true;
      }
    }
    i = j;
  }
  return false;
}

// Whether a point (x, y) with left <= x <= right, top <= y <= bottom stands
// on a floor.
bool BoxMeetsFloor(const std::vector<RECT>& floors, std::int64_t left, std::int64_t top, std::int64_t right,
                std::int64_t bottom) {
  for (const RECT& f : floors)
    if (std::max<std::int64_t>(left, std::int64_t{f.left} + 1) <= std::min<std::int64_t>(right, f.right) &&
        std::max<std::int64_t>(top, std::int64_t{f.top} + 1) <= std::min<std::int64_t>(bottom, f.bottom))
      return true;
  return false;
}

}  // namespace

bool CrossesFloorEdge(const std::vector<RECT>& floors, std::int32_t px, std::int32_t py, std::int32_t cx,
                      std::int32_t cy) {
  std::vector<Edge> vertical;
  std::vector<Edge> horizontal;
  vertical.reserve(floors.size() * 2);
  horizontal.reserve(floors.size() * 2);
  for (const RECT& f : floors) {
    vertical.push_back({f.left, f.top, f.bottom});
    vertical.push_back({f.right, f.top, f.bottom});
    horizontal.push_back({f.top, f.left, f.right});
    horizontal.push_back({f.bottom, f.left, f.right});
  }
  return CrossesEdges(vertical, px, py, cx, cy, true) || CrossesEdges(horizontal, py, px, cy, cx, false);
}

bool OnFloor(const std::vector<RECT>& floors, std::int64_t x, std::int64_t y) {
  return BoxMeetsFloor(floors, x, y, x, y);
}

bool MeetsFloor(const std::vector<RECT>& floors, const RECT& rect) {
  return BoxMeetsFloor(floors, rect.left, rect.top, rect.right, rect.bottom);
}
