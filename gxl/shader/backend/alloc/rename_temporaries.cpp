// Results moved into fresh temporary registers, so that each instruction's
// results start at component 0. An instruction whose results are read in one
// group together with another instruction's is pinned and keeps its place.
#include "gxl/shader/backend/alloc/alloc_util.h"

namespace gxl::shader {

HRESULT ShaderProgram::RenameTemporaries(std::uint32_t mode) {
  std::uint32_t next = alloc::NextFreeRegister(*this, alloc::TemporaryBank(*this));
  HRESULT hr = RebuildDefUse();
  if (FAILED(hr)) return hr;

  for (std::uint32_t position = 0; position < instructions.Count(); ++position)
    if (IrInstruction* inst = instructions[position]) inst->pinned = 0;
  for (std::uint32_t position = 0; position < instructions.Count(); ++position) {
    const IrInstruction* inst = instructions[position];
    if (alloc::IsEmpty(inst)) continue;
    std::uint32_t* group;
    for (std::uint32_t g = 0, w; (w = inst->ArgumentGroup(g, &group)) != 0; ++g) {
      if (!alloc::IsTemporary(*this, group[0])) continue;
      const std::uint32_t first = values[group[0]]->definingPosition;
      bool shared = true;
      for (std::uint32_t k = 1; k < w && shared; ++k)
        shared = !alloc::IsTemporary(*this, group[k]) || values[group[k]]->definingPosition == first;
      if (shared) continue;
      for (std::uint32_t k = 0; k < w; ++k) {
        const IrValue* v = values[group[k]];
        if (alloc::IsTemporary(*this, group[k]))
          if (IrInstruction* d = instructions[v->definingPosition]) d->pinned = 1;
      }
    }
  }

  bool changed = false;
  for (std::uint32_t position = 0; position < instructions.Count(); ++position) {
    const IrInstruction* inst = instructions[position];
    const std::uint32_t n = inst ? inst->resultCount : 0;
    if (alloc::IsEmpty(inst) || inst->pinned || n == 0 || n > 4) continue;
    bool temporaries = true, inOrder = true, usesX = false;
    for (std::uint32_t k = 0; k < n; ++k) {
      const IrValue* v = values[inst->results[k]];
      temporaries =
          temporaries && alloc::IsTemporary(*this, inst->results[k]) && v->binding == 0 && v->alias == kNoIndex;
      inOrder = inOrder && v->component == k && SameRegisterIndex(inst->results[0], inst->results[k]);
      usesX = usesX || v->component == 0;
    }
    if (!temporaries || (mode == 1 ? inOrder : usesX)) continue;
    for (std::uint32_t k = 0; k < n; ++k) {
      IrValue& v = *values[inst->results[k]];
      v.reg = next;
      if (mode == 1) v.component = k;
    }
    ++next;
    changed = true;
  }
  return changed ? S_OK : S_FALSE;
}

}  // namespace gxl::shader
