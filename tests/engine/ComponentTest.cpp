// Kestrava.DLL driving the real engine, as a host uses it.
#include "EngineSupport.h"

#include <Kestrava.h>

#include <atomic>

using namespace enginetest;

namespace {
std::atomic<int> analysed{0};
void __stdcall analyse(char *, LONG, LONG, LONG, LONG_PTR, LONG) {
    ++analysed;
}

template <class T> struct Released {
    T *p = nullptr;
    ~Released() {
        if (p) {
            p->Release();
        }
    }
};
} // namespace

TEST(Component, OneObjectPlaysTenFilesToTheEndInARow) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        HMODULE component = LoadLibraryA("Kestrava.DLL");
        ASSERT_NE(nullptr, component);
        auto getClassObject = reinterpret_cast<HRESULT(WINAPI *)(REFCLSID, REFIID, void **)>(
            reinterpret_cast<void (*)()>(GetProcAddress(component, "DllGetClassObject")));
        ASSERT_NE(nullptr, getClassObject);
        Released<IClassFactory> factory;
        ASSERT_EQ(S_OK, getClassObject(CLSID_KestravaCOM, IID_IClassFactory,
                                       reinterpret_cast<void **>(&factory.p)));
        Released<IBaseFilePlay> player;
        ASSERT_EQ(S_OK, factory.p->CreateInstance(nullptr, IID_IBaseFilePlay,
                                                  reinterpret_cast<void **>(&player.p)));
        Released<IExtendHalvet> extension;
        ASSERT_EQ(S_OK, player.p->QueryInterface(IID_IExtendHalvet,
                                                 reinterpret_cast<void **>(&extension.p)));
        extension.p->SetAnalyzeCallBack(reinterpret_cast<LONG_PTR>(&analyse), 0, 0);
        EndWindow window;
        const char *const clips[] = {"h264.mp4", "hevc_aac.mkv"};
        for (int i = 0; i < 10; ++i) {
            SCOPED_TRACE(i);
            std::string path = media(clips[i % 2]);
            std::wstring wide(path.begin(), path.end());
            BSTR name = SysAllocString(wide.c_str());
            HRESULT opened = player.p->OpenFile(
                name, static_cast<LONG>(reinterpret_cast<LONG_PTR>(window.hwnd)));
            SysFreeString(name);
            ASSERT_EQ(S_OK, opened);
            EndWindow::endMessages = 0;
            analysed = 0;
            ASSERT_EQ(S_OK, player.p->Play());
            for (int f = 0; f < 4; ++f) {
                ASSERT_EQ(S_OK, player.p->Fast());
            }
            ASSERT_TRUE(waitFor([] { return EndWindow::endMessages > 0; }, 20000));
            EXPECT_GT(analysed.load(), 0);
        }
        EXPECT_EQ(S_OK, player.p->CloseFile());
    }
    CoUninitialize();
}
