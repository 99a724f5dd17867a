// A ProgressBar that stores what it is told and remembers every position,
// for tests of the code that moves the window's progress bar.
#pragma once

#include <vector>

#include "download/progress_bar.h"

class FakeProgressBar final : public ProgressBar {
  public:
    void Set_Range(int minimum, int maximum) override {
        m_minimum = minimum;
        m_maximum = maximum;
    }
    void Set_Position(int position) override {
        m_position = position;
        positions.push_back(position);
    }
    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }
    int position() const { return m_position; }

    std::vector<int> positions;  // every position set, in order

  private:
    int m_minimum = 0;
    int m_maximum = 100;
    int m_position = 0;
};
