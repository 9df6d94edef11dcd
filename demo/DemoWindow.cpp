#include "DemoWindow.h"

#include "Owners.h"

#include <cstdio>
#include <vector>

namespace demo {

bool DemoWindow::ended_ = false;

DemoWindow::DemoWindow(int width, int height) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = &DemoWindow::proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = "KestravaDemoWindow";
    RegisterClassA(&wc);
    RECT r = {0, 0, width, height};
    AdjustWindowRect(&r, WS_OVERLAPPEDWINDOW, FALSE);
    hwnd_ =
        CreateWindowA(wc.lpszClassName, "Kestrava demo", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20,
                      r.right - r.left, r.bottom - r.top, nullptr, nullptr, wc.hInstance, nullptr);
    UpdateWindow(hwnd_);
}

DemoWindow::~DemoWindow() {
    if (hwnd_) {
        DestroyWindow(hwnd_);
    }
}

LRESULT CALLBACK DemoWindow::proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kEndOfFileMessage) {
        ended_ = true;
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

void DemoWindow::pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool DemoWindow::saveScreenshot(const std::string &path) {
    RECT client;
    GetClientRect(hwnd_, &client);
    const int w = client.right, h = client.bottom;
    if (w <= 0 || h <= 0) {
        return false;
    }
    const kestrava::WindowDc window(hwnd_);
    HDC windowDc = window.get();
    HDC memory = CreateCompatibleDC(windowDc);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h; // bottom-up, as BMP files store rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP dib = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (dib) {
        HGDIOBJ old = SelectObject(memory, dib);
        BitBlt(memory, 0, 0, w, h, windowDc, 0, 0, SRCCOPY);
        GdiFlush();
        const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
        const DWORD imageBytes = stride * h;
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        file.bfSize = file.bfOffBits + imageBytes;
        if (FILE *f = std::fopen(path.c_str(), "wb")) {
            ok = std::fwrite(&file, sizeof file, 1, f) == 1 &&
                 std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, f) == 1 &&
                 std::fwrite(bits, 1, imageBytes, f) == imageBytes;
            std::fclose(f);
        }
        SelectObject(memory, old);
        DeleteObject(dib);
    }
    DeleteDC(memory);
    return ok;
}

} // namespace demo
