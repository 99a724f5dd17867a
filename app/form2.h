// TForm2: the version window. Built hidden at start-up and shown modeless by
// the main window's Help > About; closing it only hides it.
#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class Form2;
}

class TForm2 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

  private:
    std::unique_ptr<Ui::Form2> ui;
};
