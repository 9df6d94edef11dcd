// Self-registration: the embedded registry script and the type library.
#ifndef KESTRAVA_SERVER_REGISTRATION_H
#define KESTRAVA_SERVER_REGISTRATION_H

#include <windows.h>

namespace kestrava {

HRESULT registerServer();
void unregisterServer();

} // namespace kestrava

#endif
