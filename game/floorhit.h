// Whether a move leaves the floor area. The floors of a stage are a union of
// rectangles; crossing any outer edge between the previous and the current
// point is a hit, while an edge shared by two floors cancels out.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win_types.h"

// The move from (px, py) to (cx, cy). A vertical edge covers its ends (a
// crossing at a corner hits); a horizontal edge does not.
bool CrossesFloorEdge(const std::vector<RECT>& floors, std::int32_t px, std::int32_t py, std::int32_t cx,
                      std::int32_t cy);

// Whether a point stands on a floor, on the sides of the lines the crossing
// test draws: a line at X parts x <= X from x > X, so a floor holds the points
// left < x <= right, top < y <= bottom. A body that starts on none crosses no
// edge when it leaves, so it never falls.
bool OnFloor(const std::vector<RECT>& floors, std::int64_t x, std::int64_t y);
// Whether some point of the rectangle, its edges included (as the goal test
// counts them), stands on a floor.
bool MeetsFloor(const std::vector<RECT>& floors, const RECT& rect);
