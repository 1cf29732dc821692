#include "hostkit/suite_handler.h"

namespace {

struct SuitePair {
  const char* name;
  int32_t version;
};

// Indexed by AEGP_SuiteHandler::Slot.
constexpr SuitePair kPairs[] = {
    {kAEGPKeyframeSuite, 4},      {kAEGPStreamSuite, 7},   {kAEGPStreamSuite, 9},
    {kAEGPDynamicStreamSuite, 2}, {kAEGPEffectSuite, 2},   {kAEGPEffectSuite, 3},
    {kAEGPUtilitySuite, 7},       {kPFANSISuite, 1},       {kPFHandleSuite, 2},
    {kAEGPPFInterfaceSuite, 1},   {kPFParamUtilsSuite, 3},
};

}  // namespace

AEGP_SuiteHandler::AEGP_SuiteHandler(const SPBasicSuite* basic) : basic_(basic) {
  if (!basic_) MissingSuiteError();
}

AEGP_SuiteHandler::~AEGP_SuiteHandler() {
  ReleaseAllSuites();
}

void AEGP_SuiteHandler::MissingSuiteError() {
  throw static_cast<PF_Err>(PF_Err_BAD_CALLBACK_PARAM);
}

const void* AEGP_SuiteHandler::Acquire(Slot slot) {
  if (!slots_[slot]) {
    const void* suite = nullptr;
    SPErr err = basic_->AcquireSuite(kPairs[slot].name, kPairs[slot].version, &suite);
    if (err != kSPNoError || !suite) MissingSuiteError();
    slots_[slot] = suite;
  }
  return slots_[slot];
}

void AEGP_SuiteHandler::ReleaseAllSuites() {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    if (slots_[slot]) basic_->ReleaseSuite(kPairs[slot].name, kPairs[slot].version);
  }
}

#define VARNEX_SUITE_ACCESSOR(Type, Method, SlotName)   \
  const Type* AEGP_SuiteHandler::Method() {             \
    return static_cast<const Type*>(Acquire(SlotName)); \
  }

VARNEX_SUITE_ACCESSOR(AEGP_KeyframeSuite4, KeyframeSuite4, kKeyframe4)
VARNEX_SUITE_ACCESSOR(AEGP_StreamSuite7, StreamSuite7, kStream7)
VARNEX_SUITE_ACCESSOR(AEGP_StreamSuite9, StreamSuite9, kStream9)
VARNEX_SUITE_ACCESSOR(AEGP_DynamicStreamSuite2, DynamicStreamSuite2, kDynamicStream2)
VARNEX_SUITE_ACCESSOR(AEGP_EffectSuite2, EffectSuite2, kEffect2)
VARNEX_SUITE_ACCESSOR(AEGP_EffectSuite3, EffectSuite3, kEffect3)
VARNEX_SUITE_ACCESSOR(AEGP_UtilitySuite7, UtilitySuite7, kUtility7)
VARNEX_SUITE_ACCESSOR(PF_ANSICallbacksSuite1, ANSICallbacksSuite1, kANSI1)
VARNEX_SUITE_ACCESSOR(PF_HandleSuite2, HandleSuite2, kHandle2)
VARNEX_SUITE_ACCESSOR(AEGP_PFInterfaceSuite1, PFInterfaceSuite1, kPFInterface1)
VARNEX_SUITE_ACCESSOR(PF_ParamUtilsSuite3, ParamUtilsSuite3, kParamUtils3)

#undef VARNEX_SUITE_ACCESSOR
