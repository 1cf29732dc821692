// The effect's diagnostic messages. They go to a single sink that shows nothing to the user and
// leaves the host's records alone; a render reports its failed host calls here.
#pragma once

#include <string>

#include "pf_sdk.h"

// Appends " err <err1> err2 <err2>" (signed decimal) to `message` and hands it to SendMessage,
// except for a render the user interrupted (err1 PF_Interrupt_CANCEL with err2 0), which is no
// failure and sends nothing. out_data is not touched and may be null. Safe on any thread.
void SendMessageAppendErr(std::string message, PF_OutData* out_data, PF_Err err1, PF_Err err2);

// The sink: takes the text and shows nothing; out_data is not touched and may be null.
void SendMessage(std::string message, PF_OutData* out_data);
