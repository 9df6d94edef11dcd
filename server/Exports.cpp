// The module's entry point and its four exports. Nothing thrown may reach the caller.
#include "AnalysisRegistry.h"
#include "ClassFactory.h"
#include "ComBoundary.h"
#include "Module.h"
#include "Registration.h"
#include "RuntimeRelease.h"

using kestrava::comBoundary;

extern "C" {

// At process exit (reserved not NULL) nothing is torn down: the libraries our objects would call
// while letting go may be gone already.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        kestrava::module::attach(instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        comBoundary([] {
            kestrava::module::detach();
            return S_OK;
        });
    }
    if (reason == DLL_PROCESS_DETACH) {
        kestrava::releaseRuntimeAtUnload(reserved);
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() {
    // A frame still on its way back through the registry runs this module's code, even after
    // its host function released the last object.
    return kestrava::module::lockCount() == 0 && AnalysisRegistry::framesInFlight() == 0 ? S_OK
                                                                                         : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID *object) {
    return comBoundary([&] { return kestrava::getClassObject(clsid, iid, object); });
}

STDAPI DllRegisterServer() {
    return comBoundary([] { return kestrava::registerServer(); });
}

// Never fails: what cannot be removed stays.
STDAPI DllUnregisterServer() {
    comBoundary([] {
        kestrava::unregisterServer();
        return S_OK;
    });
    return S_OK;
}
}
