#include "gl/program_variants.h"

#include <atomic>
#include <cstring>

#include "gl/program.h"

namespace {

std::atomic<int64_t> variant_builds{0};

bool Holds(const ProgramVariant& slot, ShaderStageList stages, const char* prefix) {
  return slot.lastUse != 0 && slot.stages == stages && std::strcmp(slot.prefix, prefix) == 0;
}

// A free slot if there is one, else the one used longest ago.
ProgramVariant* SlotToFill(ProgramVariants* variants) {
  ProgramVariant* oldest = &variants->slots[0];
  for (ProgramVariant& slot : variants->slots) {
    if (slot.lastUse == 0) return &slot;
    if (slot.lastUse < oldest->lastUse) oldest = &slot;
  }
  return oldest;
}

}  // namespace

uint32_t FindOrBuildVariant(ProgramVariants* variants, ShaderStageList stages, const char* prefix) {
  if (variants == nullptr || prefix == nullptr) return 0;
  const size_t length = std::strlen(prefix);
  if (length >= kVariantPrefixSize) return 0;
  const uint64_t now = ++variants->uses;
  for (ProgramVariant& slot : variants->slots) {
    if (!Holds(slot, stages, prefix)) continue;
    slot.lastUse = now;
    return slot.program;
  }
  ProgramVariant* slot = SlotToFill(variants);
  DeleteProgram(&slot->program);
  slot->lastUse = now;
  slot->stages = stages;
  std::memcpy(slot->prefix, prefix, length + 1);
  slot->program = CreateProgram(stages, prefix);
  variant_builds.fetch_add(1, std::memory_order_relaxed);
  return slot->program;
}

void DeleteProgramVariants(ProgramVariants* variants) {
  if (variants == nullptr) return;
  for (ProgramVariant& slot : variants->slots) {
    DeleteProgram(&slot.program);
    slot.lastUse = 0;
  }
}

int64_t ProgramVariantBuilds() {
  return variant_builds.load(std::memory_order_relaxed);
}
