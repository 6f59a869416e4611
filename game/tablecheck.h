// The stage tables checked at the start, before a stage is played. A table
// whose rows do not give every stage it lists, and every stage a course plays
// (courses.h), what play needs makes the game unplayable: a row too short or
// with a value that is no whole number, a time limit under one second, a
// start or a floor outside the field, a floor of no area, a start on none of
// its stage's floors (the body would never fall), a goal outside the field,
// of no point or on none of the floors (it could not be reached), such a
// stage missing or without a start, a goal, a time limit or floors, or no
// stage at all; so does a row that ends with LF alone, which runs into the
// next line, whatever it then holds. Rows play passes over (an empty line, a
// prefix the game does not know, values beyond those read, an enemy of a race
// the game does not know, a stage outside 1 to 99) leave it playable and are
// said, values beyond those read once per table. Every finding goes to the
// error log and stderr.
#pragma once

#include <string>

#include "qel/appbase/qelcsvtable.h"

struct C_TableFaults {
  // The first fault of each table, as "Floor.dat, line 4: what is wrong"
  // (without a line when no one row is at fault); empty when it has none.
  std::string floors;
  std::string stages;
};

// Either table may be absent (it could not be read): what needs it is not
// checked.
C_TableFaults CheckStageTables(const C_CsvTable* floors, const C_CsvTable* stages);
