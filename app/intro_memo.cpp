// Intro_Memo: the introduction text moves out from under the menu bar.
#include "app/intro_memo.h"

#include <QEvent>
#include <algorithm>

void Intro_Memo::Keep_Text_Clear_Of(QWidget& overlay) {
    m_overlay = &overlay;
    overlay.installEventFilter(this);
    Make_Room();
}

bool Intro_Memo::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_overlay) {
        switch (event->type()) {
            case QEvent::Show:
            case QEvent::Hide:
            case QEvent::Move:
            case QEvent::Resize:
                Make_Room();
                break;
            default:
                break;
        }
    }
    return QPlainTextEdit::eventFilter(watched, event);
}

void Intro_Memo::Make_Room() {
    int room = 0;
    if (m_overlay != nullptr && m_overlay->isVisibleTo(parentWidget())) {
        // Both in the parent's coordinates: the text area begins inside the
        // memo's frame.
        const int text_top = y() + contentsRect().top();
        room = std::max(0, m_overlay->geometry().bottom() + 1 - text_top);
    }
    if (room == m_room)
        return;
    m_room = room;
    setViewportMargins(0, room, 0, 0);
}
