// Programs specialised for one render's settings, kept beside a context's general programs. A
// variant is one of the general programs' stage lists built with a prefix of its own; the prefix
// names it. A context keeps a bounded number and drops the least recently used.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gl/stage_list.h"

// The most variants one context keeps, and the longest prefix (terminator included) one may have.
inline constexpr int kMaxProgramVariants = 16;
inline constexpr size_t kVariantPrefixSize = 512;

// One kept variant. `program` 0 with a non-zero `lastUse` records a build that failed, so that a
// render with the same settings uses the general program without trying again.
struct ProgramVariant {
  uint64_t lastUse;  // 0: the slot is free
  ShaderStageList stages;
  uint32_t program;
  char prefix[kVariantPrefixSize];
};

// Plain data, so that a record made zero-filled holds an empty set.
struct ProgramVariants {
  uint64_t uses;  // counts lookups; a slot's lastUse is the count at its latest lookup
  ProgramVariant slots[kMaxProgramVariants];
};

// The variant of `stages` built with `prefix`, from `variants` or built now into a free slot, or
// into the least recently used one after deleting its program. Returns 0 when the build failed
// (now or before; its messages are printed once) or when the prefix is longer than a slot holds
// (nothing is built then); the caller draws with the general program instead. Needs the context
// that owns `variants` current.
uint32_t FindOrBuildVariant(ProgramVariants* variants, ShaderStageList stages, const char* prefix);

// Deletes every kept program and frees every slot. Null: nothing. Needs the owning context current.
void DeleteProgramVariants(ProgramVariants* variants);

// How many variants have been built in this process, failed builds included, for tests and the
// benchmark to see that a render whose settings were seen before on its thread builds nothing.
int64_t ProgramVariantBuilds();
