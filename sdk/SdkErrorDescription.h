// The engine's error codes as text, for the wrappers' log entries.
#ifndef KESTRAVA_SDK_SDKERRORDESCRIPTION_H
#define KESTRAVA_SDK_SDKERRORDESCRIPTION_H

#include <windows.h>

// The player SDK's English text for an error code; static, never null.
const char *SdkErrorDescription(DWORD code) noexcept;

#endif
