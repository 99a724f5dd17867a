// Progress_Bar_Adapter over QProgressBar.
#include "app/progress_adapter.h"

#include <QProgressBar>
#include <algorithm>

int Progress_Bar_Adapter::minimum() const {
    return m_bar.minimum();
}
int Progress_Bar_Adapter::maximum() const {
    return m_bar.maximum();
}
int Progress_Bar_Adapter::position() const {
    return m_bar.value();
}

void Progress_Bar_Adapter::set_minimum(int value) {
    m_bar.setMinimum(value);
}

void Progress_Bar_Adapter::set_maximum(int value) {
    // Equal bounds would turn the bar into a busy indicator; an empty range
    // shows as a full bar instead.
    m_bar.setMaximum(value);
}

void Progress_Bar_Adapter::set_position(int value) {
    m_bar.setValue(std::clamp(value, m_bar.minimum(), std::max(m_bar.minimum(), m_bar.maximum())));
}
