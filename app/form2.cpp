// TForm2: the version window.
#include "app/form2.h"

#include "ui_form2.h"

TForm2::TForm2(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::Form2>()) {
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint);
    setFixedSize(size());
    move(492, 312);  // where the window first appears on the screen
    // A top-level QWidget without WA_DeleteOnClose is hidden, not destroyed,
    // by close; it must also not count as the window whose closing ends the
    // program.
    setAttribute(Qt::WA_QuitOnClose, false);
}

TForm2::~TForm2() = default;
