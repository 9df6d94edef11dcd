// The demo's own window: the component draws into it and posts the end-of-file message to it.
#ifndef KESTRAVA_DEMO_DEMOWINDOW_H
#define KESTRAVA_DEMO_DEMOWINDOW_H

#include <windows.h>

#include <string>

namespace demo {

constexpr UINT kEndOfFileMessage = 1057;

class DemoWindow {
  public:
    DemoWindow(int width, int height);
    ~DemoWindow();
    HWND handle() const { return hwnd_; }
    bool ended() const { return ended_; }
    // Dispatches pending messages; returns at once.
    void pump();
    // Saves what the window shows as a 24-bit BMP file.
    bool saveScreenshot(const std::string &path);

  private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    HWND hwnd_ = nullptr;
    static bool ended_;
};

} // namespace demo

#endif
