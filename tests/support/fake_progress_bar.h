// A ProgressBar that stores what it is set to and remembers every position,
// for tests of the code that moves the window's progress bar.
#pragma once

#include <vector>

#include "bootloader/progress_bar.h"

class FakeProgressBar final : public ProgressBar {
  public:
    int minimum() const override { return m_minimum; }
    int maximum() const override { return m_maximum; }
    int step() const override { return m_step; }
    int position() const override { return m_position; }
    void set_minimum(int value) override { m_minimum = value; }
    void set_maximum(int value) override { m_maximum = value; }
    void set_step(int value) override { m_step = value; }
    void set_position(int value) override {
        m_position = value;
        positions.push_back(value);
    }

    std::vector<int> positions;  // every position set, in order

  private:
    int m_minimum = 0;
    int m_maximum = 100;
    int m_step = 10;
    int m_position = 0;
};
