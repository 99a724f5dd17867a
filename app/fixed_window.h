// What the Qt windows share of their frames: a layout table's frame (caption,
// place, fixed client size) with minimize and close but no maximize button,
// and the UTF-8 texts of the tables and the model as Qt text.
#pragma once

#include <QRect>
#include <QString>
#include <string_view>

#include "window_model/layout.h"

class QWidget;

QString From_Utf8(std::string_view text);
QRect Rect_Of(const layout::Rect& place);

// Names the window, styles it and gives it the frame.
void Set_Up_Fixed_Window(QWidget& window, std::string_view name, const layout::Frame& frame,
                         std::string_view style_sheet);
