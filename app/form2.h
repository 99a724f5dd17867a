// TForm2: the version window, built from the layout table. Built hidden at
// start-up and shown modeless by the main window's Help > About; closing it
// (its close button or Escape) only hides it.
#pragma once

#include <QWidget>

class TForm2 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm2(QWidget* parent = nullptr);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};
