// The use analysis of ShaderProgram::RebuildDefUse kept up to date across
// rewrites that change a few instructions at a time (instruction selection),
// at a cost in proportion to what they reached instead of to the program.
//
// While it runs, the program's lists note every record reached (ListJournal).
// Refresh reads again only the instructions noted, and those whose reads went
// through a value whose alias, relative index or addressed bank changed; it
// keeps, per value, the sorted positions that read it, write it and name it,
// and per bank its relative reads, and sets the analysis fields of every value
// whose reads or writes changed (with the values it aliases or that alias it)
// as the full rebuild would. The coalescing links of moves are left as they
// stand: they are a property of the whole program, which no walk reading the
// analysis in between consults. It rebuilds in full where a change is not
// local: a list cut or replaced, a bank's window of relative reads moved, the
// register-table flag set, or memory running out.
#pragma once

#include <cstdint>

#include "gxl/shader/backend/ir/list_journal.h"
#include "gxl/shader/backend/ir/shader_program.h"
#include "gxl/shader/core/pod_array.h"

namespace gxl::shader {

class DefUseUpkeep {
 public:
  explicit DefUseUpkeep(ShaderProgram& program) : m_p(program) {}
  ~DefUseUpkeep() { Stop(); }
  DefUseUpkeep(const DefUseUpkeep&) = delete;
  DefUseUpkeep& operator=(const DefUseUpkeep&) = delete;

  bool Running() const { return m_running; }
  // The analysis up to date: in full the first time (and whenever a change is
  // not local), else from what the journals noted since. 0 or the failure of
  // the full rebuild. With the program's reference switch the full rebuild
  // follows every refresh, and each field it sets otherwise counts in
  // ShaderProgram::defUseUpkeepMismatches.
  HRESULT Refresh();
  // The journals detached and the index freed; the fields stay as they are.
  void Stop();

  // While it runs, for the passes that look for values by their alias
  // (each a superset, in no order, with repeats; the caller tests): the
  // values whose alias may be `target` now, and those that may have an
  // alias chain now (an alias whose own alias is set). From the index, the
  // values reached since the last refresh and those added since. False
  // when it does not run: every value is a candidate.
  bool AliasCandidates(std::uint32_t target, PodArray<std::uint32_t>& out) const;
  // The positions of the instructions that may name `value` among their
  // arguments now.
  bool ReaderCandidates(std::uint32_t value, PodArray<std::uint32_t>& out) const;
  bool ChainCandidates(PodArray<std::uint32_t>& out) const;
  // Whether value v of `p` has an alias chain as FlattenAliasChains follows it.
  static bool HasAliasChain(const ShaderProgram& p, std::uint32_t v);

  // A sorted (or, for alias links, plain) list of indexes on the C heap.
  struct Indexes {
    std::uint32_t* data;
    std::uint32_t size;
    std::uint32_t capacity;
  };

 private:
  // The fields of a value the analysis sets (with the place the alias merge copies).
  struct Fields {
    std::uint32_t bank, reg, component, definingPosition, earliest, latest, firstUse, lastUse, useCount;
    bool operator==(const Fields&) const = default;
  };
  static Fields FieldsOf(const IrValue& v) {
    return {v.bank,     v.reg,     v.component, v.definingPosition, v.earliestDefinition, v.latestDefinition,
            v.firstUse, v.lastUse, v.useCount};
  }
  struct ValueEntry {
    Indexes uses, defs, mentions;  // positions, sorted, each as often as counted
    Indexes aliasedBy;             // values whose alias is this one
    std::uint32_t alias, relativeIndex, bank;  // as the reads were last counted
    bool present;
    Fields set;  // as the analysis left them: a rewrite that wrote them is undone
  };
  struct BankEntry {
    Indexes reads;              // positions of its relative reads, sorted
    std::uint32_t first, last;  // the window its values were widened to
    bool read;                  // whether they were widened at all
  };
  // Marks an entry of m_dangling that is a value whose alias lies past the list.
  static constexpr std::uint32_t kDanglingAlias = 0x80000000u;

  // RebuildDefUse, the index built and the journals attached.
  HRESULT Start();
  HRESULT Incremental();
  void Attach();
  void Detach();
  void FreeIndex();
  bool AddValue(std::uint32_t v);
  // Enters v among the values aliasing its alias (as recorded).
  void Link(std::uint32_t v);
  void Unlink(std::uint32_t v);
  void MarkValue(std::uint32_t v);
  void MarkBank(std::uint32_t b);
  void MarkSlot(std::uint32_t s);
  // The instructions whose reads went through v, to be read again.
  void RereadReadersOf(std::uint32_t v);
  // Counts the reads and writes of the instruction at `position` afresh.
  void Reread(std::uint32_t position);
  // The instruction at `position` as it was when last read (word, counts,
  // operands), into `out`; whether it still is.
  void RawOf(std::uint32_t position, PodArray<std::uint32_t>& out);
  bool Unchanged(std::uint32_t position);
  // The fields of v and of every value joined to it by alias links, as the
  // full rebuild sets them.
  void Recompute(std::uint32_t v);

  ShaderProgram& m_p;
  bool m_running = false;
  bool m_failed = false;  // memory ran out during a refresh: rebuild in full
  std::uint64_t m_moved = 0;  // list entries shifted by this refresh's rereads
  ListJournal m_valueJournal, m_instructionJournal, m_bankJournal;
  PodArray<ValueEntry> m_values;
  PodArray<BankEntry> m_banks;
  PodArray<Indexes> m_slots;             // per position: (kind, index) pairs in visit order
  PodArray<Indexes> m_raw;               // per position: the instruction as last read (RawOf)
  PodArray<std::uint32_t> m_dangling;    // positions (and aliasing values) naming values past the list
  PodArray<std::uint32_t> m_chains;      // values of alias chains, merged again at every refresh
  PodArray<std::uint32_t> m_chained;     // values that had an alias chain at a refresh (HasAliasChain)
  PodArray<std::uint32_t> m_pending;     // values the last merge moved, taken up by the next refresh
  PodArray<std::uint32_t> m_pendingBanks;  // banks whose window the next refresh sets
  // Work lists of one refresh, with the stamps that mark their members.
  PodArray<std::uint32_t> m_valueStamps, m_memberStamps, m_slotStamps, m_bankStamps;
  PodArray<std::uint32_t> m_dirtyValues, m_rereads, m_dirtyBanks, m_members, m_memberBanks, m_scratch, m_carried,
      m_rawScratch;
  std::uint32_t m_round = 0;
};

}  // namespace gxl::shader
