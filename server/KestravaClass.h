// The module's one class.
#ifndef KESTRAVA_SERVER_KESTRAVACLASS_H
#define KESTRAVA_SERVER_KESTRAVACLASS_H

#include <windows.h>
#include <objbase.h>

#include <Kestrava.h>

namespace kestrava {

HRESULT createKestravaObject(IUnknown *outer, REFIID iid, void **object);

} // namespace kestrava

#endif
