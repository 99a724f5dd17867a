// TForm1: the Qt controls of the layout table, bound to the window model.
#include "app/form1.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextCursor>
#include <cstdlib>
#include <map>

#include "app/fixed_window.h"
#include "app/form2.h"
#include "app/intro_memo.h"
#include "app/menu_keys.h"
#include "form1_style.h"

namespace {

// A sunken panel, as the status bar and its two panels are drawn.
void Sink(QFrame& frame, int line_width) {
    frame.setFrameShape(QFrame::Panel);
    frame.setFrameShadow(QFrame::Sunken);
    frame.setLineWidth(line_width);
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent),
      m_model(*this,
              [this] {
                  // On the worker's thread: have the window's thread run the calls.
                  QMetaObject::invokeMethod(
                      this, [this] { m_model.Panel().Run_Pending_Calls(); }, Qt::QueuedConnection);
              }),
      m_open_dialog(this) {
    Set_Up_Fixed_Window(*this, "Form1", layout::kForm1, kForm1StyleSheet);
    Build_Controls();
    Build_Menus();

    m_timer1.setObjectName("Timer1");
    m_timer2.setObjectName("Timer2");
    // Precise: a coarse timer may tick up to 5 % early, which would count
    // seconds too fast and show the clock line before a full interval.
    m_timer1.setTimerType(Qt::PreciseTimer);
    m_timer2.setTimerType(Qt::PreciseTimer);
    m_timer1.setInterval(1000);
    m_timer2.setInterval(1000);
    m_timer2.start();  // running as the window is built; FormCreate stops it
    connect(&m_timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(&m_timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);

    m_model.FormCreate();
}

TForm1::~TForm1() {
    m_model.FormDestroy();
}

// ---- Controls ----

void TForm1::Build_Controls() {
    QWidget* previous_stop = nullptr;
    for (std::size_t row = 0; row < layout::kForm1Controls.size(); ++row) {
        const layout::Control_Layout& layout = layout::kForm1Controls[row];
        QWidget* control = Build_Control(layout);
        control->setObjectName(From_Utf8(layout.name));
        control->setGeometry(Rect_Of(layout.place));
        control->setEnabled(layout.enabled);
        if (!layout.visible)
            control->hide();
        if (layout.tab_stop) {
            if (previous_stop != nullptr)
                setTabOrder(previous_stop, control);
            previous_stop = control;
        }
        m_controls[row] = control;
    }
    connect(static_cast<QPushButton*>(Control(layout::Control::kDownload)), &QPushButton::clicked,
            this, &TForm1::DownloadClick);
    connect(static_cast<QPushButton*>(Control(layout::Control::kCancel)), &QPushButton::clicked,
            this, &TForm1::CancelClick);
    connect(static_cast<QPushButton*>(Control(layout::Control::kShowTime)), &QPushButton::clicked,
            this, &TForm1::ShowTimeClick);
}

QWidget* TForm1::Build_Control(const layout::Control_Layout& layout) {
    switch (layout.kind) {
        case layout::Kind::kMemo: {
            const bool intro = layout.control == layout::Control::kTeMemo1;
            QPlainTextEdit* memo = intro ? new Intro_Memo(this) : new QPlainTextEdit(this);
            memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            memo->setReadOnly(layout.read_only);
            memo->setTabChangesFocus(true);
            memo->setPlainText(From_Utf8(intro ? layout::Introduction_Text() : layout.caption));
            if (!intro) {
                // Messages are selected and copied with the mouse; the area
                // never takes the keyboard focus, so no caret blinks in it.
                memo->setFocusPolicy(Qt::NoFocus);
                m_memo = memo;
            }
            return memo;
        }
        case layout::Kind::kButton:
            return new QPushButton(From_Utf8(layout.caption), this);
        case layout::Kind::kLabel:
            return new QLabel(From_Utf8(layout.caption), this);
        case layout::Kind::kField: {
            auto* field = new QLineEdit(this);
            (layout.control == layout::Control::kVersionNameEdit ? m_new_version : m_old_version) =
                field;
            return field;
        }
        case layout::Kind::kProgressBar:
            m_bar = new QProgressBar(this);
            m_bar->setValue(0);
            m_bar->setTextVisible(false);
            return m_bar;
        case layout::Kind::kStatusBar:
            break;
    }
    auto* bar = new QFrame(this);
    Sink(*bar, 2);
    // Panel 1 ends at the bar's inner edge: at its full width it would run
    // past the bar's right border.
    const QRect inside = Rect_Of(layout.place).adjusted(0, 0, -4, -4).translated(2, 2);
    int left = 2;
    for (std::size_t panel = 0; panel < m_panels.size(); ++panel) {
        auto* label = new QLabel(bar);
        label->setObjectName(QStringLiteral("StatusBar1_Panel%1").arg(panel));
        Sink(*label, 1);
        const int width = panel == 0 ? layout::kPanelWidths[0] : inside.width() - (left - 2);
        label->setGeometry(left, 2, width, inside.height());
        left += width;
        m_panels[panel] = label;
    }
    return bar;
}

void TForm1::Build_Menus() {
    m_menu_bar = new QMenuBar(this);
    m_menu_bar->setObjectName(QStringLiteral("MainMenu1"));
    m_menu_bar->setNativeMenuBar(false);
    m_menu_bar->setGeometry(Rect_Of(layout::kMainMenu1Place));
    m_menu_bar->hide();
    const std::map<std::string_view, void (TForm1::*)()> commands = {
        {"English", &TForm1::EnglishClick},
        {"Chinese", &TForm1::ChineseClick},
        {"About1", &TForm1::About1_oldClick}};
    for (const layout::Menu& menu : layout::kMainMenu1) {
        QMenu* popup = m_menu_bar->addMenu(From_Utf8(menu.caption));
        popup->setObjectName(From_Utf8(menu.name));
        for (const layout::Menu_Item& item : menu.items) {
            if (item.name.empty())
                continue;
            QAction* action = popup->addAction(From_Utf8(item.caption));
            action->setObjectName(From_Utf8(item.name));
            connect(action, &QAction::triggered, this, commands.at(item.name));
        }
    }
    new Hidden_Menu_Keys(*this, *m_menu_bar);  // owned by the window
    static_cast<Intro_Memo*>(Control(layout::Control::kTeMemo1))->Keep_Text_Clear_Of(*m_menu_bar);
}

QWidget* TForm1::Control(layout::Control control) const {
    for (std::size_t row = 0; row < layout::kForm1Controls.size(); ++row) {
        if (layout::kForm1Controls[row].control == control)
            return m_controls[row];
    }
    return nullptr;
}

std::string TForm1::Memo_Text() const {
    QString text = m_memo->toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text.toStdString();
}

// ---- Closing and the version window ----

void TForm1::closeEvent(QCloseEvent* event) {
    // FormClose: the model decides, asking the user through the question.
    if (!m_model.FormClose(
            [this](std::string_view question) { return Ask_Stop_Update(question); })) {
        event->ignore();
        return;
    }
    event->accept();
    if (m_exit) {
        m_exit();
        return;
    }
    std::exit(0);
}

bool TForm1::Ask_Stop_Update(std::string_view question) {
    return m_stop_question.Ask(this, question);
}

void TForm1::Dismiss_Stop_Question() {
    m_stop_question.Dismiss();
}

void TForm1::About1_oldClick() {
    if (m_form2 == nullptr)
        return;
    m_form2->show();
    m_form2->raise();
    m_form2->activateWindow();
}

// ---- Main_Window_Face ----

void TForm1::Memo_Appended(std::string_view text) {
    QTextCursor end(m_memo->document());
    end.movePosition(QTextCursor::End);
    end.insertText(From_Utf8(text));
    m_memo->moveCursor(QTextCursor::End);
    m_memo->ensureCursorVisible();
}

void TForm1::Memo_Cleared() {
    m_memo->clear();
}

void TForm1::Field_Shown(Field field, std::string_view text) {
    QLineEdit* edit = field == Field::kNewVersion ? m_new_version : m_old_version;
    edit->setText(From_Utf8(text));
    edit->setCursorPosition(0);
}

void TForm1::Buttons_Enabled(bool enabled) {
    // A button that is disabled with the focus hands it on along the tab
    // order, to a text box whose caret would then blink through the update.
    // The window itself keeps the focus meanwhile (the menu key still works)
    // and gives it back to the button afterwards.
    QWidget* download = Control(layout::Control::kDownload);
    QWidget* cancel = Control(layout::Control::kCancel);
    QWidget* focused = focusWidget();
    if (!enabled && (focused == download || focused == cancel)) {
        m_focus_before_update = focused;
        setFocus(Qt::OtherFocusReason);
    }
    download->setEnabled(enabled);
    cancel->setEnabled(enabled);
    if (enabled) {
        if (m_focus_before_update != nullptr && focusWidget() == this)
            m_focus_before_update->setFocus(Qt::OtherFocusReason);
        m_focus_before_update = nullptr;
    }
}

void TForm1::Progress_Shown(int minimum, int maximum, int position) {
    m_bar->setRange(minimum, maximum);
    m_bar->setValue(position);
}

void TForm1::Progress_Visible(bool visible) {
    m_bar->setVisible(visible);
}

void TForm1::Timer1_Running(bool running) {
    if (running) {
        m_timer1.start();
    } else {
        m_timer1.stop();
    }
}

void TForm1::Timer2_Running(bool running) {
    if (running) {
        m_timer2.start();
    } else {
        m_timer2.stop();
    }
}

void TForm1::Show_Completion_Box(std::string_view text) {
    const QString message = From_Utf8(text);
    if (m_message_box) {
        m_message_box(message);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, From_Utf8(layout::kApplicationTitle), message,
                    QMessageBox::Ok, this);
    box.exec();
}

void TForm1::Caption_Shown(layout::Control control, std::string_view caption) {
    QWidget* widget = Control(control);
    if (auto* button = qobject_cast<QPushButton*>(widget))
        button->setText(From_Utf8(caption));
    else if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(From_Utf8(caption));
}

void TForm1::Status_Panel_Shown(int panel, std::string_view text) {
    m_panels[static_cast<std::size_t>(panel)]->setText(From_Utf8(text));
}
