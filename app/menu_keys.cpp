// Hidden_Menu_Keys: the menu key for a hidden menu bar.
#include "app/menu_keys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

Hidden_Menu_Keys::Hidden_Menu_Keys(QWidget& window, QMenuBar& bar)
    : QObject(&window), m_window(window), m_bar(bar) {
    for (QAction* action : m_bar.actions()) {
        if (QMenu* menu = action->menu()) {
            connect(menu, &QMenu::aboutToHide, this, [this] {
                // The bar may be opening the neighbouring menu: decide once the
                // switch is done.
                QTimer::singleShot(0, this, [this] { Hide_Bar_When_Closed(); });
            });
        }
    }
    qApp->installEventFilter(this);
}

bool Hidden_Menu_Keys::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    // Only keys typed into this window, and not while one of its menus is open
    // (the open menu handles its own keys).
    if (widget == nullptr || widget->window() != &m_window)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::KeyPress) {
        if (key->key() == Qt::Key_Alt) {
            m_alt_alone = !key->isAutoRepeat() || m_alt_alone;
            return false;
        }
        m_alt_alone = false;
        if (key->key() == Qt::Key_F10 && key->modifiers() == Qt::NoModifier) {
            Open_Menu(m_bar.actions().value(0));
            return true;
        }
        if (key->modifiers() == Qt::AltModifier) {
            if (QAction* menu_action = Menu_For_Mnemonic(key->key())) {
                Open_Menu(menu_action);
                return true;
            }
        }
        return false;
    }
    if (key->key() == Qt::Key_Alt && m_alt_alone && !key->isAutoRepeat()) {
        m_alt_alone = false;
        Open_Menu(m_bar.actions().value(0));
        return true;
    }
    return false;
}

QAction* Hidden_Menu_Keys::Menu_For_Mnemonic(int key) const {
    for (QAction* action : m_bar.actions()) {
        const QKeySequence mnemonic = QKeySequence::mnemonic(action->text());
        if (!mnemonic.isEmpty() && mnemonic[0].key() == static_cast<Qt::Key>(key))
            return action;
    }
    return nullptr;
}

void Hidden_Menu_Keys::Open_Menu(QAction* menu_action) {
    if (menu_action == nullptr)
        return;
    m_bar.show();
    m_bar.raise();
    m_bar.setActiveAction(menu_action);
}

void Hidden_Menu_Keys::Hide_Bar_When_Closed() {
    for (QAction* action : m_bar.actions()) {
        if (action->menu() != nullptr && action->menu()->isVisible())
            return;
    }
    m_bar.hide();
}
