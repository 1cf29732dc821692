// Our declarations of the host's suites: tables of functions acquired by name and version through
// the basic suite. Only the calls the effect and our host use are declared.
#pragma once

#include "pf_sdk.h"

extern "C" {

typedef int32_t SPErr;
enum { kSPNoError = 0, kSPSuiteNotFoundError = 0x53214e46 };

struct SPBasicSuite {
  SPErr (*AcquireSuite)(const char* name, int32_t version, const void** suite);
  SPErr (*ReleaseSuite)(const char* name, int32_t version);
};

// ---- PF suites -------------------------------------------------------------------------------

#define kPFHandleSuite "PF Handle Suite"
typedef struct {
  PF_Handle (*host_new_handle)(A_HandleSize size);
  void* (*host_lock_handle)(PF_Handle h);
  void (*host_unlock_handle)(PF_Handle h);
  void (*host_dispose_handle)(PF_Handle h);
} PF_HandleSuite2;

#define kPFANSISuite "PF ANSI Suite"
typedef struct {
  A_long (*sprintf)(A_char* buffer, const A_char* format, ...);
} PF_ANSICallbacksSuite1;

#define kPFParamUtilsSuite "PF Param Utils Suite"
typedef struct {
  PF_Err (*PF_UpdateParamUI)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                             const PF_ParamDef* defP);
} PF_ParamUtilsSuite3;

// ---- AEGP suites -----------------------------------------------------------------------------

typedef struct _AEGP_EffectRefH* AEGP_EffectRefH;
typedef struct _AEGP_StreamRefH* AEGP_StreamRefH;
typedef A_long AEGP_DynStreamFlags;
enum { AEGP_DynStreamFlag_ACTIVE_EYEBALL = 1, AEGP_DynStreamFlag_HIDDEN = 2 };

typedef A_FpLong AEGP_OneDVal;
typedef struct {
  A_FpLong x, y;
} AEGP_TwoDVal;
typedef struct {
  A_FpLong x, y, z;
} AEGP_ThreeDVal;
typedef A_FpLong AEGP_FourDVal[4];

typedef union {
  AEGP_FourDVal four_d;
  AEGP_ThreeDVal three_d;
  AEGP_TwoDVal two_d;
  AEGP_OneDVal one_d;
} AEGP_StreamVal2;

typedef struct {
  AEGP_StreamRefH streamH;
  AEGP_StreamVal2 val;
} AEGP_StreamValue2;

#define kAEGPPFInterfaceSuite "AEGP PF Interface Suite"
typedef struct {
  PF_Err (*AEGP_GetNewEffectForEffect)(AEGP_PluginID plugin_id, PF_ProgPtr effect_ref,
                                       AEGP_EffectRefH* effectPH);
} AEGP_PFInterfaceSuite1;

#define kAEGPEffectSuite "AEGP Effect Suite"
typedef struct {
  PF_Err (*AEGP_DisposeEffect)(AEGP_EffectRefH effectH);
} AEGP_EffectSuite2;
typedef AEGP_EffectSuite2 AEGP_EffectSuite3;

#define kAEGPStreamSuite "AEGP Stream Suite"
typedef struct {
  PF_Err (*AEGP_GetNewEffectStreamByIndex)(AEGP_PluginID plugin_id, AEGP_EffectRefH effectH,
                                           PF_ParamIndex param_index, AEGP_StreamRefH* streamPH);
  PF_Err (*AEGP_SetStreamValue)(AEGP_PluginID plugin_id, AEGP_StreamRefH streamH,
                                AEGP_StreamValue2* valueP);
  PF_Err (*AEGP_DisposeStream)(AEGP_StreamRefH streamH);
} AEGP_StreamSuite7;
typedef AEGP_StreamSuite7 AEGP_StreamSuite9;

#define kAEGPDynamicStreamSuite "AEGP Dynamic Stream Suite"
typedef struct {
  PF_Err (*AEGP_SetDynamicStreamFlag)(AEGP_StreamRefH streamH, AEGP_DynStreamFlags one_flag,
                                      A_Boolean undoableB, A_Boolean setB);
} AEGP_DynamicStreamSuite2;

#define kAEGPKeyframeSuite "AEGP Keyframe Suite"
typedef struct {
  PF_Err (*AEGP_GetStreamNumKFs)(AEGP_StreamRefH streamH, A_long* num_kfsPL);
} AEGP_KeyframeSuite4;

#define kAEGPUtilitySuite "AEGP Utility Suite"
typedef struct {
  PF_Err (*AEGP_StartUndoGroup)(const A_char* undo_name);
  PF_Err (*AEGP_EndUndoGroup)(void);
} AEGP_UtilitySuite7;

}  // extern "C"
