// TForm2: the version window's frame and labels from the layout table.
#include "app/form2.h"

#include <QKeyEvent>
#include <QLabel>

#include "app/fixed_window.h"
#include "form2_style.h"

TForm2::TForm2(QWidget* parent) : QWidget(parent) {
    Set_Up_Fixed_Window(*this, "Form2", layout::kForm2, kForm2StyleSheet);
    for (const layout::Label_Layout& place : layout::kForm2Labels) {
        auto* label = new QLabel(From_Utf8(place.caption), this);
        label->setObjectName(From_Utf8(place.name));
        label->setGeometry(Rect_Of(place.place));
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
