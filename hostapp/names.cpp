// Names of command and error codes, for messages.
#include "hostapp/host.h"

namespace vhost {

namespace {

template <typename Code>
struct Named {
  Code code;
  const char* name;
};

#define VHOST_NAMED(code) \
  { code, #code }

constexpr Named<PF_Cmd> kCommands[] = {
    VHOST_NAMED(PF_Cmd_ABOUT),
    VHOST_NAMED(PF_Cmd_GLOBAL_SETUP),
    VHOST_NAMED(PF_Cmd_GLOBAL_SETDOWN),
    VHOST_NAMED(PF_Cmd_PARAMS_SETUP),
    VHOST_NAMED(PF_Cmd_USER_CHANGED_PARAM),
    VHOST_NAMED(PF_Cmd_UPDATE_PARAMS_UI),
    VHOST_NAMED(PF_Cmd_QUERY_DYNAMIC_FLAGS),
    VHOST_NAMED(PF_Cmd_SMART_PRE_RENDER),
    VHOST_NAMED(PF_Cmd_SMART_RENDER),
};

constexpr Named<PF_Err> kErrors[] = {
    VHOST_NAMED(PF_Err_NONE),
    VHOST_NAMED(PF_Err_OUT_OF_MEMORY),
    VHOST_NAMED(PF_Err_INTERNAL_STRUCT_DAMAGED),
    VHOST_NAMED(PF_Err_INVALID_INDEX),
    VHOST_NAMED(PF_Err_UNRECOGNIZED_PARAM_TYPE),
    VHOST_NAMED(PF_Err_INVALID_CALLBACK),
    VHOST_NAMED(PF_Err_BAD_CALLBACK_PARAM),
    VHOST_NAMED(PF_Interrupt_CANCEL),
};

#undef VHOST_NAMED

template <typename Code, size_t N>
const char* Find(const Named<Code> (&table)[N], Code code) {
  for (const Named<Code>& entry : table)
    if (entry.code == code) return entry.name;
  return nullptr;
}

}  // namespace

const char* CommandName(PF_Cmd cmd) {
  const char* name = Find(kCommands, cmd);
  return name ? name : "PF_Cmd (other)";
}

std::string ErrorName(PF_Err err) {
  const char* name = Find(kErrors, err);
  return name ? name : "error " + std::to_string(err);
}

}  // namespace vhost
