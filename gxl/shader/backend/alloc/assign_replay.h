// What a register assignment keeps between trial runs over reorderings of
// one program, so that the next run can take over its placements.
//
// A run places one virtual register at a time; a placement is chosen from
// the costs of the physical registers, and each cost depends only on the
// value's own live ranges, the registers already placed with their live
// ranges and places, the copy partners and no-overlap neighbours placed, the
// parity bias and the order in which registers are tried. When instructions
// move, only the values they define or read change their ranges, and every
// changed end stays among the positions that moved (the band). A placement of
// the run before is taken over when the call is the same, the order tried is
// the same, the value's ranges lie wholly outside the band (so no moved range
// can meet it otherwise than before), and none of the registers placed
// differently so far (the difference of the two runs at that point) is a
// partner or neighbour of it. Where a register placed differently meets
// its ranges, only the physical registers it lies in, now or then, can cost
// otherwise: those are measured again, and the placement stands when none
// of them undercuts it. Every other placement is searched as in a full run,
// so each run decides what a full run decides.
#pragma once

#include <cstdint>
#include <memory>

#include "gxl/shader/backend/ir/ir.h"
#include "gxl/shader/core/pod_array.h"

namespace gxl::shader {

struct AssignReplay {
  struct Step {
    std::uint32_t value, vreg;
    std::int32_t bias;
    std::uint32_t partner, reg;
    std::uint32_t map[4];
    std::uint32_t cost;  // of the placement chosen, as the search measures it
    std::uint32_t orderAt;  // offset of the registers' order before it (rotation), else kNoIndex
    std::uint32_t pass, position;  // where the walk placed it (position kNoIndex: not in the passes by width)
  };

  bool prepared = false;  // the tables below describe the program
  bool serves = false;    // the program is of a shape replays serve
  bool blocks = false;    // the caller moves nothing across flow control
  bool haveReference = false;
  bool reused = false;     // the last Reassign took over the run before
  bool fullRun = true;     // the run measures every range afresh (Assign)
  bool replaying = false;  // placements may be taken over
  std::uint32_t count = 0;

  // The runs: the one before (reference) and the one running.
  PodArray<Step> steps[2];
  PodArray<std::uint32_t> orders[2];
  int reference = 0;
  std::unique_ptr<std::uint32_t[]> referenceStep;  // per virtual register: its step there, kNoIndex

  // Instructions by their place when the tables were made (their id).
  std::unique_ptr<IrInstruction*[]> table;       // id -> instruction
  std::unique_ptr<std::uint32_t[]> byAddress;    // ids sorted by address
  std::unique_ptr<IrInstruction*[]> orderSeen;   // position -> instruction of the reference run
  std::unique_ptr<std::uint32_t[]> position;     // id -> position in the latest run
  // The arguments of the instructions by position in the latest run, for
  // the walk of a replay (kept along with the band): per pass by width (0
  // the narrowest), those it may place.
  std::unique_ptr<std::uint32_t[]> walkStart[4], walkValues[4];

  // Per value of the program: the instructions (ids) that define and read it
  // as the use analysis counts them; per sequence: the instruction (id) of
  // each use record. Per id: the sequences whose ranges it touches.
  std::unique_ptr<std::uint32_t[]> defineStart, defines, readStart, reads;
  std::unique_ptr<std::uint32_t[]> recordId;  // parallel to the context's records
  std::unique_ptr<std::uint32_t[]> touchStart, touches;  // values

  // The band of the run: positions lo..hi moved; the values it touches, with
  // their ranges in the reference run.
  std::uint32_t lo = 0, hi = 0;
  std::uint32_t stamp = 0;
  std::unique_ptr<std::uint32_t[]> touchedAt, savedBegin, savedEnd;  // per value
  std::unique_ptr<std::uint32_t[]> bandAt;  // per virtual register: the stamp of a run whose band it meets

  // The difference: virtual registers placed in one run and not (or
  // elsewhere) in the other, with the hull of their ranges in both runs.
  std::uint32_t prefix = 0;  // reference steps counted
  PodArray<std::uint32_t> difference;
  PodArray<std::uint32_t> affected;  // physical registers, while a placement is taken over
  std::unique_ptr<std::uint32_t[]> differenceSlot, hullBegin, hullEnd;  // per virtual register
};

}  // namespace gxl::shader
