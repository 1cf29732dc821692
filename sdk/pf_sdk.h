// Our declarations of the compositing host's effect plug-in interface: the records, commands,
// errors, flags and callbacks that the effect and our host exchange. Only what the two sides use
// is declared. Layouts are plain C records so both sides agree without sharing code.
#pragma once

#include <cstdint>

extern "C" {

// ---- Basic types ---------------------------------------------------------------------------

typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef char A_char;
typedef uint8_t A_Boolean;
typedef uint8_t PF_Boolean;
typedef double A_FpLong;
typedef float A_FpShort;
typedef int32_t PF_Fixed;  // 16.16 fixed point
typedef int32_t PF_Err;
typedef int32_t PF_Cmd;
typedef int32_t PF_ParamIndex;
typedef int32_t PF_ParamType;
typedef int32_t PF_ParamFlags;
typedef int32_t PF_ParamUIFlags;
typedef int32_t PF_ValueDisplayFlags;
typedef int32_t PF_Field;
typedef int32_t PF_ChannelMask;
typedef int32_t PF_OutFlags;
typedef int32_t PF_OutFlags2;
typedef int32_t PF_RenderOutputFlags;
typedef uint64_t A_HandleSize;
typedef void** PF_Handle;
typedef struct _PF_ProgPtr* PF_ProgPtr;  // the host's opaque reference to an effect instance
typedef void* PF_PixelPtr;
typedef A_long AEGP_PluginID;

#define PF_FIXED_ONE 65536

// ---- Commands --------------------------------------------------------------------------------

enum {
  PF_Cmd_ABOUT = 0,
  PF_Cmd_GLOBAL_SETUP = 1,
  PF_Cmd_UNUSED_0 = 2,
  PF_Cmd_GLOBAL_SETDOWN = 3,
  PF_Cmd_PARAMS_SETUP = 4,
  PF_Cmd_SEQUENCE_SETUP = 5,
  PF_Cmd_SEQUENCE_RESETUP = 6,
  PF_Cmd_SEQUENCE_FLATTEN = 7,
  PF_Cmd_SEQUENCE_SETDOWN = 8,
  PF_Cmd_DO_DIALOG = 9,
  PF_Cmd_FRAME_SETUP = 10,
  PF_Cmd_RENDER = 11,
  PF_Cmd_FRAME_SETDOWN = 12,
  PF_Cmd_USER_CHANGED_PARAM = 13,
  PF_Cmd_UPDATE_PARAMS_UI = 14,
  PF_Cmd_EVENT = 15,
  PF_Cmd_GET_EXTERNAL_DEPENDENCIES = 16,
  PF_Cmd_COMPLETELY_GENERAL = 17,
  PF_Cmd_QUERY_DYNAMIC_FLAGS = 18,
  PF_Cmd_AUDIO_RENDER = 19,
  PF_Cmd_AUDIO_SETUP = 20,
  PF_Cmd_AUDIO_SETDOWN = 21,
  PF_Cmd_ARBITRARY_CALLBACK = 22,
  PF_Cmd_SMART_PRE_RENDER = 23,
  PF_Cmd_SMART_RENDER = 24,
};

// ---- Errors ----------------------------------------------------------------------------------

enum {
  PF_Err_NONE = 0,
  PF_Err_OUT_OF_MEMORY = 4,
  PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
  PF_Err_INVALID_INDEX = 513,
  PF_Err_UNRECOGNIZED_PARAM_TYPE = 514,
  PF_Err_INVALID_CALLBACK = 515,
  PF_Err_BAD_CALLBACK_PARAM = 516,
  PF_Interrupt_CANCEL = 517,
};

// ---- Version packing -------------------------------------------------------------------------

enum { PF_Stage_DEVELOP = 0, PF_Stage_ALPHA = 1, PF_Stage_BETA = 2, PF_Stage_RELEASE = 3 };

#define PF_VERSION(vers, subvers, bugvers, stage, build)                                       \
  ((A_u_long)((((A_u_long)(vers) & 0x7) << 19) | (((A_u_long)(subvers) & 0xF) << 15) |        \
              (((A_u_long)(bugvers) & 0xF) << 11) | (((A_u_long)(stage) & 0x3) << 9) |        \
              ((A_u_long)(build) & 0x1FF)))

// ---- Output flags ----------------------------------------------------------------------------

enum {
  PF_OutFlag_NON_PARAM_VARY = 1L << 2,
  PF_OutFlag_SEND_UPDATE_PARAMS_UI = 1L << 26,
};

enum {
  PF_OutFlag2_SUPPORTS_QUERY_DYNAMIC_FLAGS = 1L << 0,
  PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG = 1L << 3,
  PF_OutFlag2_SUPPORTS_SMART_RENDER = 1L << 10,
  PF_OutFlag2_FLOAT_COLOR_AWARE = 1L << 12,
  PF_OutFlag2_AUTOMATIC_WIDE_TIME_INPUT = 1L << 17,
  PF_OutFlag2_SUPPORTS_THREADED_RENDERING = 1L << 27,
};

// ---- Parameters ------------------------------------------------------------------------------

enum {
  PF_Param_LAYER = 0,
  PF_Param_SLIDER = 2,
  PF_Param_FIXED_SLIDER = 3,
  PF_Param_ANGLE = 4,
  PF_Param_CHECKBOX = 5,
  PF_Param_COLOR = 6,
  PF_Param_POINT = 7,
  PF_Param_POPUP = 8,
  PF_Param_FLOAT_SLIDER = 10,
  PF_Param_GROUP_START = 13,
  PF_Param_GROUP_END = 14,
  PF_Param_BUTTON = 15,
};

enum {
  PF_ParamFlag_CANNOT_TIME_VARY = 1L << 1,
  PF_ParamFlag_START_COLLAPSED = 1L << 5,
  PF_ParamFlag_COLLAPSE_TWIRLY = 1L << 5,
  PF_ParamFlag_SUPERVISE = 1L << 6,
  PF_ParamFlag_USE_VALUE_FOR_OLD_PROJECTS = 1L << 7,
};

enum { PF_PUI_DISABLED = 1L << 5 };

enum { PF_ValueDisplayFlag_NONE = 0, PF_ValueDisplayFlag_PERCENT = 1 };

enum { PF_LayerDefault_MYSELF = -1, PF_LayerDefault_NONE = 0 };

// ---- Rectangles and worlds -------------------------------------------------------------------

typedef struct {
  A_long left, top, right, bottom;
} PF_LRect;
typedef PF_LRect PF_Rect;

typedef struct {
  A_FpLong left, top, right, bottom;
} A_FloatRect;

typedef struct {
  A_long num;
  A_u_long den;
} PF_RationalScale;

// A pixel buffer. Four channels per pixel in the order alpha, red, green, blue: one byte each at
// 8 bits per channel, one float each at 32. Rows are `rowbytes` apart and may be padded.
typedef struct PF_LayerDef {
  A_long world_flags;
  PF_PixelPtr data;
  A_long rowbytes;
  A_long width;
  A_long height;
  PF_LRect extent_hint;
  A_long origin_x;
  A_long origin_y;
  A_long dephault;  // for a layer parameter: PF_LayerDefault_NONE or PF_LayerDefault_MYSELF
} PF_LayerDef;
typedef PF_LayerDef PF_EffectWorld;

typedef struct {
  uint8_t alpha, red, green, blue;
} PF_Pixel;

// ---- Parameter records -----------------------------------------------------------------------

typedef struct {
  A_long value;
  A_char value_str[32];
  A_char value_desc[32];
  A_long valid_min, valid_max;
  A_long slider_min, slider_max;
  A_long dephault;
} PF_SliderDef;

typedef struct {
  PF_Fixed value;
  PF_Fixed dephault;
  PF_Fixed valid_min, valid_max;
} PF_AngleDef;

typedef struct {
  A_long value;
  A_long dephault;
  union {
    const A_char* nameptr;
  } u;
} PF_CheckBoxDef;

typedef struct {
  A_long value;
  A_short num_choices;
  A_short dephault;
  union {
    const A_char* namesptr;
  } u;
} PF_PopupDef;

typedef struct {
  PF_Fixed x_value, y_value;
  PF_Boolean restrict_bounds;
  PF_Fixed x_dephault, y_dephault;
} PF_PointDef;

typedef struct {
  A_long value;
  union {
    const A_char* namesptr;
  } u;
} PF_ButtonDef;

typedef struct {
  A_FpLong value;
  A_FpShort valid_min, valid_max;
  A_FpShort slider_min, slider_max;
  A_FpShort dephault;
  A_short precision;
  A_short display_flags;
  A_long fs_flags;
  A_FpShort curve_tolerance;
} PF_FloatSliderDef;

typedef union {
  PF_LayerDef ld;
  PF_SliderDef sd;
  PF_AngleDef ad;
  PF_CheckBoxDef bd;
  PF_PopupDef pd;
  PF_FloatSliderDef fs_d;
  PF_PointDef td;
  PF_ButtonDef button_d;
} PF_ParamDefUnion;

typedef struct PF_ParamDef {
  union {
    A_long id;
    A_long change_flag;
  } uu;
  PF_ParamUIFlags ui_flags;
  A_short ui_width, ui_height;
  PF_ParamType param_type;
  A_char name[32];
  PF_ParamFlags flags;
  A_long unused;
  PF_ParamDefUnion u;
} PF_ParamDef;
typedef PF_ParamDef* PF_ParamDefPtr;
typedef PF_ParamDef** PF_ParamList;

// ---- Callbacks handed to the effect ------------------------------------------------------------

typedef struct {
  PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                           A_long time_step, A_u_long time_scale, PF_ParamDef* param);
  PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
  PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def);
} PF_InteractCallbacks;

typedef struct {
  // Fills `rect` of `world` with `color`; null colour means transparent black, null rect the
  // whole world.
  PF_Err (*fill)(PF_ProgPtr effect_ref, const PF_Pixel* color, const PF_Rect* rect,
                 PF_EffectWorld* world);
} PF_UtilCallbacks;

struct SPBasicSuite;

typedef struct {
  PF_InteractCallbacks inter;
  PF_UtilCallbacks* utils;
  PF_ProgPtr effect_ref;
  A_long version;
  A_long num_params;
  A_long current_time;
  A_long time_step;
  A_long total_time;
  A_u_long time_scale;
  A_long width, height;
  PF_RationalScale downsample_x;
  PF_RationalScale downsample_y;
  PF_Handle global_data;
  SPBasicSuite* pica_basicP;
} PF_InData;

typedef struct {
  A_u_long my_version;
  A_char name[32];
  PF_Handle global_data;
  A_long num_params;
  PF_OutFlags out_flags;
  A_char return_msg[256];
  PF_OutFlags2 out_flags2;
} PF_OutData;

typedef struct {
  PF_ParamIndex param_index;
} PF_UserChangedParamExtra;

// ---- Smart pre-render and render ---------------------------------------------------------------

typedef struct {
  PF_LRect rect;
  PF_Field field;
  PF_ChannelMask channel_mask;
  PF_Boolean preserve_rgb_of_zero_alpha;
  char unused[3];
  A_long reserved[4];
} PF_RenderRequest;

typedef struct {
  PF_LRect result_rect;
  PF_LRect max_result_rect;
  PF_RationalScale par;
  A_long solid;
  PF_Boolean opaque;
  PF_Field field_render;
  A_long ref_width, ref_height;
} PF_CheckoutResult;

typedef void (*PF_DeletePreRenderDataFunc)(void* pre_render_data);

typedef struct {
  PF_RenderRequest output_request;
  A_short bitdepth;
} PF_PreRenderInput;

typedef struct {
  PF_LRect result_rect;
  PF_LRect max_result_rect;
  PF_Boolean solid;
  PF_Boolean reserved;
  PF_RenderOutputFlags flags;
  void* pre_render_data;
  PF_DeletePreRenderDataFunc delete_pre_render_data_func;
} PF_PreRenderOutput;

typedef struct {
  PF_Err (*checkout_layer)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id,
                           const PF_RenderRequest* req, A_long what_time, A_long time_step,
                           A_u_long time_scale, PF_CheckoutResult* result);
} PF_PreRenderCallbacks;

typedef struct {
  PF_PreRenderInput* input;
  PF_PreRenderOutput* output;
  PF_PreRenderCallbacks* cb;
} PF_PreRenderExtra;

typedef struct {
  PF_RenderRequest output_request;
  A_short bitdepth;
  void* pre_render_data;
} PF_SmartRenderInput;

typedef struct {
  PF_Err (*checkout_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_id,
                                  PF_EffectWorld** pixels);
  PF_Err (*checkin_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_id);
  PF_Err (*checkout_output)(PF_ProgPtr effect_ref, PF_EffectWorld** output);
} PF_SmartRenderCallbacks;

typedef struct {
  PF_SmartRenderInput* input;
  PF_SmartRenderCallbacks* cb;
} PF_SmartRenderExtra;

// ---- The entry point -------------------------------------------------------------------------

typedef PF_Err (*PF_EffectMainFunc)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                    PF_ParamDef* params[], PF_LayerDef* output, void* extra);

}  // extern "C"
