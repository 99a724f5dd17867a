// The windows' frames from the layout table.
#include "app/fixed_window.h"

#include <QWidget>

QString From_Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QRect Rect_Of(const layout::Rect& place) {
    return QRect(place.x, place.y, place.width, place.height);
}

void Set_Up_Fixed_Window(QWidget& window, std::string_view name, const layout::Frame& frame,
                         std::string_view style_sheet) {
    window.setObjectName(From_Utf8(name));
    window.setWindowTitle(From_Utf8(frame.caption));
    window.setStyleSheet(From_Utf8(style_sheet));
    window.setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint);
    window.setFixedSize(frame.client_width, frame.client_height);
    window.move(frame.x, frame.y);  // where the window first appears on the screen
}
