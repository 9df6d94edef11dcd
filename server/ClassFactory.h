// The one cached class object of the module.
#ifndef KESTRAVA_SERVER_CLASSFACTORY_H
#define KESTRAVA_SERVER_CLASSFACTORY_H

#include <windows.h>
#include <objbase.h>

namespace kestrava {

// Makes an object: standalone without an outer object, aggregated with one.
using ObjectCreator = HRESULT (*)(IUnknown *outer, REFIID iid, void **object);

// Finds or makes the class object for `clsid` and asks it for `iid`.
HRESULT getClassObject(REFCLSID clsid, REFIID iid, void **object);

// Drops the module's own reference at unload.
void releaseClassObject();

} // namespace kestrava

#endif
