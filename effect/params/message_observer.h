// A way for the tests of the static library to see what reaches the message sink, which shows the
// user nothing. The plug-in never installs an observer.
#pragma once

#include <string>

using MessageObserver = void (*)(const std::string& text);

// Installs `observer` (null removes it); the sink calls it with each text it receives.
void SetMessageObserver(MessageObserver observer);
