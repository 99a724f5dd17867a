// TeMemo1, the introduction text. The hidden menu bar, when the menu key
// opens it, lies over the top edge of the window and so over the memo's
// first line; while the bar shows, the memo's text starts below it.
//
// The window has a fixed size and the memo begins 7 pixels below its top, so
// there is no room above the memo for the bar; moving the bar elsewhere would
// put the menus away from where a menu key user looks for them. Shifting the
// text keeps every line readable, whichever line the user has scrolled to.
#pragma once

#include <QPlainTextEdit>
#include <QPointer>

class Intro_Memo : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit Intro_Memo(QWidget* parent = nullptr) : QPlainTextEdit(parent) {}

    // overlay: a sibling that may be shown over the memo's top.
    void Keep_Text_Clear_Of(QWidget& overlay);
    // How far the text is moved down at present, in pixels.
    int Room_Above_Text() const { return m_room; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Make_Room();

    QPointer<QWidget> m_overlay;
    int m_room = 0;
};
