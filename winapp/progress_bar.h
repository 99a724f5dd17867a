// TeProgressBar1 as the serial-port object moves it: the ProgressBar
// interface over a msctls_progress32 control.
#pragma once

#include <windows.h>

#include "bootloader/progress_bar.h"

class Win32_Progress_Bar final : public ProgressBar {
  public:
    void Attach(HWND control) { m_control = control; }

    int minimum() const override;
    int maximum() const override;
    int step() const override { return m_step; }
    int position() const override;
    void set_minimum(int value) override;
    void set_maximum(int value) override;
    // Kept here: the programming step advances the position itself.
    void set_step(int value) override { m_step = value; }
    void set_position(int value) override;

  private:
    HWND m_control = nullptr;
    int m_step = 1;
};
