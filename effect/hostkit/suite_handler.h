// Per-command cache of the host's suites. A handler builds one on the stack, asks it for the suites
// it needs (each acquired once, on first use) and every acquired suite is released when the
// handler goes out of scope, also when an error code is thrown through it.
#pragma once

#include <array>

#include "pf_suites.h"

class AEGP_SuiteHandler {
 public:
  // A null basic suite raises the missing-suite error at once.
  explicit AEGP_SuiteHandler(const SPBasicSuite* basic);
  ~AEGP_SuiteHandler();
  AEGP_SuiteHandler(const AEGP_SuiteHandler&) = delete;
  AEGP_SuiteHandler& operator=(const AEGP_SuiteHandler&) = delete;

  // Each accessor returns the suite's function table or throws PF_Err_BAD_CALLBACK_PARAM when the
  // host cannot supply it.
  const AEGP_KeyframeSuite4* KeyframeSuite4();
  const AEGP_StreamSuite7* StreamSuite7();
  const AEGP_StreamSuite9* StreamSuite9();
  const AEGP_DynamicStreamSuite2* DynamicStreamSuite2();
  const AEGP_EffectSuite2* EffectSuite2();
  const AEGP_EffectSuite3* EffectSuite3();
  const AEGP_UtilitySuite7* UtilitySuite7();
  const PF_ANSICallbacksSuite1* ANSICallbacksSuite1();
  const PF_HandleSuite2* HandleSuite2();
  const AEGP_PFInterfaceSuite1* PFInterfaceSuite1();
  const PF_ParamUtilsSuite3* ParamUtilsSuite3();

  // Releases every acquired suite in slot order; the slots keep their pointers.
  void ReleaseAllSuites();

  [[noreturn]] static void MissingSuiteError();

 private:
  // Slot order is release order; it follows the host's catalogue of suite names.
  enum Slot {
    kKeyframe4,
    kStream7,
    kStream9,
    kDynamicStream2,
    kEffect2,
    kEffect3,
    kUtility7,
    kANSI1,
    kHandle2,
    kPFInterface1,
    kParamUtils3,
    kSlotCount
  };
  const void* Acquire(Slot slot);

  const SPBasicSuite* basic_;
  std::array<const void*, kSlotCount> slots_{};
};
