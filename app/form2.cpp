// TForm2: the version window's frame and labels from the layout table.
#include "app/form2.h"

#include <QKeyEvent>
#include <QLabel>

#include "form2_style.h"
#include "window_model/layout.h"

namespace {

QString From_Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TForm2::TForm2(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(From_Utf8(layout::kForm2.caption));
    setStyleSheet(From_Utf8(kForm2StyleSheet));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint);
    setFixedSize(layout::kForm2.client_width, layout::kForm2.client_height);
    move(layout::kForm2.x, layout::kForm2.y);
    for (const layout::Label_Layout& place : layout::kForm2Labels) {
        auto* label = new QLabel(From_Utf8(place.caption), this);
        label->setObjectName(From_Utf8(place.name));
        label->setGeometry(place.place.x, place.place.y, place.place.width, place.place.height);
    }
    // A top-level QWidget without WA_DeleteOnClose is hidden, not destroyed,
    // by close; it must also not count as the window whose closing ends the
    // program.
    setAttribute(Qt::WA_QuitOnClose, false);
}

void TForm2::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
