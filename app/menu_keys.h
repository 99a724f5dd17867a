// Keyboard access to a menu bar that is never shown: the window's Language and
// Help menus stay reachable with the menu key, as on a classic Windows frame.
//
// F10 or Alt pressed and released on its own opens the first menu; Alt with a
// menu's mnemonic letter opens that menu. While a menu is open the bar shows at
// the top of the window (Left and Right move between the menus); it hides again
// when the last menu closes.
#pragma once

#include <QObject>

class QAction;
class QMenuBar;
class QWidget;

class Hidden_Menu_Keys : public QObject {
    Q_OBJECT
  public:
    Hidden_Menu_Keys(QWidget& window, QMenuBar& bar);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Open_Menu(QAction* menu_action);
    void Hide_Bar_When_Closed();
    QAction* Menu_For_Mnemonic(int key) const;

    QWidget& m_window;
    QMenuBar& m_bar;
    bool m_alt_alone = false;
};
