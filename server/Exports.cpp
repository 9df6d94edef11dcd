// The module's entry point and its four exports. Nothing thrown may reach the caller.
#include "ClassFactory.h"
#include "Module.h"
#include "Registration.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        kestrava::module::attach(instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        try {
            kestrava::module::detach();
        } catch (...) {
        }
    }
    return TRUE;
}

STDAPI DllCanUnloadNow() {
    return kestrava::module::lockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID *object) {
    try {
        return kestrava::getClassObject(clsid, iid, object);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

STDAPI DllRegisterServer() {
    try {
        return kestrava::registerServer();
    } catch (...) {
        return E_UNEXPECTED;
    }
}

STDAPI DllUnregisterServer() {
    try {
        kestrava::unregisterServer();
    } catch (...) {
    }
    return S_OK;
}
}
