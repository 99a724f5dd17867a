// TeProgressBar1 as the serial-port object moves it.
#pragma once

#include "bootloader/progress_bar.h"

class QProgressBar;

// QProgressBar ignores a value outside its range and has no step; the adapter
// keeps the step itself and clamps the position into the range, as the
// phone's block count may run a little past the total it was given.
class Progress_Bar_Adapter : public ProgressBar {
  public:
    explicit Progress_Bar_Adapter(QProgressBar& bar) : m_bar(bar) {}

    int minimum() const override;
    int maximum() const override;
    int step() const override { return m_step; }
    int position() const override;
    void set_minimum(int value) override;
    void set_maximum(int value) override;
    void set_step(int value) override { m_step = value; }
    void set_position(int value) override;

  private:
    QProgressBar& m_bar;
    int m_step = 1;
};
