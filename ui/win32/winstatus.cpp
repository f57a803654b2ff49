#include "winstatus.h"

#include <utility>

namespace win32ui {

namespace {

constexpr std::pair<UINT, UINT> kInputRanges[] = {
    {WM_KEYFIRST, WM_KEYLAST}, {WM_MOUSEFIRST, WM_MOUSELAST}, {WM_NCMOUSEMOVE, WM_NCMBUTTONDBLCLK}};

}  // namespace

DialogStatusWindow::DialogStatusWindow(std::function<void()> push, std::function<HWND()> window)
    : push_(std::move(push)), window_(std::move(window)) {}

// The engine sets texts without asking for a repaint in some long loops
// (extraction names every entry): a new text asks for one itself.
void DialogStatusWindow::PushFieldsToControls() {
  push_();
  RepaintNow();
}

void DialogStatusWindow::RepaintNow() {
  HWND hwnd = window_();
  if (hwnd == nullptr || !IsWindowVisible(hwnd)) return;
  const ULONGLONG now = GetTickCount64();
  if (lastRepaint_ != 0 && now - lastRepaint_ < 1000 / kRepaintsPerSecond) return;
  lastRepaint_ = now;
  // Input that arrived during the command is dropped. Nothing else is
  // dispatched: a posted command must not run inside the running one.
  MSG msg;
  for (const auto& [first, last] : kInputRanges)
    while (PeekMessageW(&msg, nullptr, first, last, PM_REMOVE | PM_NOYIELD)) {
    }
  RedrawWindow(hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  UpdateWindow(hwnd);
}

ProcessStatusSink::ProcessStatusSink(std::function<void()> push, std::function<HWND()> window)
    : window_(std::move(push), std::move(window)) {
  sink_.window = &window_;
  SetStatusSink(&sink_);
}

ProcessStatusSink::~ProcessStatusSink() {
  if (GetStatusSink() == &sink_) SetStatusSink(nullptr);
}

}  // namespace win32ui
