// TForm1: start state, message output, language, clock, closing.
#include "app/form1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMessageBox>
#include <QTextCursor>
#include <cstdio>
#include <cstdlib>

#include "app/display_text.h"
#include "app/form2.h"
#include "app/intro_memo.h"
#include "app/menu_keys.h"
#include "download/captions.h"
#include "download/clock_text.h"
#include "download/temp_log.h"
#include "download/texts.h"
#include "introduction_text.h"
#include "ui_form1.h"

namespace {

std::unique_ptr<Ui::Form1> Build_Controls(QWidget* window) {
    auto ui = std::make_unique<Ui::Form1>();
    ui->setupUi(window);
    // The introduction is kept once for every window (download/introduction.txt).
    ui->TeMemo1->setPlainText(QString::fromUtf8(kIntroductionText.data(),
                                                static_cast<qsizetype>(kIntroductionText.size())));
    return ui;
}

QString From_Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent),
      ui(Build_Controls(this)),
      m_progress(*ui->TeProgressBar1),
      m_open_dialog(this),
      m_runner(*this, [this] {
          // On the worker's thread: have the window's thread run the calls.
          QMetaObject::invokeMethod(
              this, [this] { m_runner.Run_Pending_Calls(); }, Qt::QueuedConnection);
      }) {
    // A fixed frame with minimize and close but no maximize button.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint);
    setFixedSize(size());
    move(425, 87);  // where the window first appears on the screen
    m_timer1.setObjectName("Timer1");
    m_timer2.setObjectName("Timer2");
    // Precise: a coarse timer may tick up to 5 % early, which would count
    // seconds too fast and show the clock line before a full interval.
    m_timer1.setTimerType(Qt::PreciseTimer);
    m_timer2.setTimerType(Qt::PreciseTimer);
    m_timer1.setInterval(1000);
    m_timer2.setInterval(1000);
    m_timer2.start();  // running as the window is built; FormCreate stops it

    connect(ui->Download, &QPushButton::clicked, this, &TForm1::DownloadClick);
    connect(ui->Cancel, &QPushButton::clicked, this, &TForm1::CancelClick);
    connect(ui->ShowTime, &QPushButton::clicked, this, &TForm1::ShowTimeClick);
    connect(ui->English, &QAction::triggered, this, &TForm1::EnglishClick);
    connect(ui->Chinese, &QAction::triggered, this, &TForm1::ChineseClick);
    connect(ui->About1, &QAction::triggered, this, &TForm1::About1_oldClick);
    connect(&m_timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(&m_timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    m_menu_keys = new Hidden_Menu_Keys(*this, *ui->MainMenu1);
    ui->TeMemo1->Keep_Text_Clear_Of(*ui->MainMenu1);

    FormCreate();
}

TForm1::~TForm1() {
    // FormDestroy: the log once more; the port is left as it is.
    Write_Temp_Log_Or_Exit();
}

void TForm1::FormCreate() {
    // The progress bar and the message output reach the port object through
    // the update's worker (Update_Runner), wired where the port is built.
    m_elapsed_seconds = 0;
    m_elapsed.Set(0);
    m_timer1.stop();
    m_timer2.stop();
    m_language_flag = Language::kChinese;
    Set_Captions(m_language_flag);
    Clean_Memo();
}

void TForm1::closeEvent(QCloseEvent* event) {
    // FormClose: a close request ends the program, also in the middle of an
    // update; but while the phone's flash is being rewritten the user is
    // asked first, since stopping then leaves a phone that cannot start.
    if (!Close_May_Stop_Update()) {
        event->ignore();
        return;
    }
    event->accept();
    m_runner.Finish_Before_Exit();  // the worker ends within the port's stop latency
    Write_Temp_Log_Or_Exit();
    Comport().Close();
    std::fflush(stdout);
    if (m_exit) {
        m_exit();
        return;
    }
    std::exit(0);
}

bool TForm1::Close_May_Stop_Update() {
    if (m_asking_to_stop)
        return false;  // the question is on screen already
    if (!m_runner.Running() || m_runner.Stop_If_Harmless())
        return true;
    m_asking_to_stop = true;
    const QString question =
        From_Utf8(text::By_Language(m_language_flag, text::kStopQuestionEn, text::kStopQuestionZh));
    bool stop = false;
    if (m_stop_question) {
        stop = m_stop_question(question);
    } else {
        stop =
            QMessageBox::question(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No,
                                  QMessageBox::No) == QMessageBox::Yes;
    }
    m_asking_to_stop = false;
    if (stop)
        m_runner.Stop();  // the blocks on the way end with the abort byte
    return stop;
}

// ---- Message output ----

void TForm1::Print_Str_to_Memo(std::string_view text) {
    // The joined text ends at a zero byte, the line break included.
    const std::string_view kept = text::Up_To_Zero(text);
    QString appended = Display_Text(kept);
    if (kept.size() == text.size())
        appended += QLatin1Char('\n');
    QTextCursor end(ui->mReceive->document());
    end.movePosition(QTextCursor::End);
    end.insertText(appended);
    ui->mReceive->moveCursor(QTextCursor::End);
    ui->mReceive->ensureCursorVisible();
}

void TForm1::Print_Str_to_Tedit(std::string_view text) {
    m_new_version += text::Up_To_Zero(text);
    Show_Version_Field(*ui->VersionNameEdit, m_new_version);
}

void TForm1::Print_Str_to_OldTedit(std::string_view text) {
    m_old_version += text::Up_To_Zero(text);
    Show_Version_Field(*ui->OldVersionNameEdit, m_old_version);
}

void TForm1::Show_Version_Field(QLineEdit& field, const std::string& bytes) {
    field.setText(Display_Text(bytes, Incomplete_Tail::kHold));
    field.setCursorPosition(0);
}

void TForm1::Print_Str_to_ToolBar(int panel, std::string_view text) {
    if (panel != 0 && panel != 1)
        return;  // the status bar has two panels
    m_panel_text[panel] = text::Up_To_Zero(text);
    // A panel is one line: the line feed that ends a time text is not drawn.
    QString shown = Display_Text(m_panel_text[panel]);
    shown.remove(QLatin1Char('\r'));
    shown.remove(QLatin1Char('\n'));
    (panel == 0 ? ui->StatusBar1_Panel0 : ui->StatusBar1_Panel1)->setText(shown);
}

const std::string& TForm1::Panel_Text(int panel) const {
    return m_panel_text[panel == 0 ? 0 : 1];
}

void TForm1::Clean_Memo() {
    ui->mReceive->clear();
}

void TForm1::Clean_Tedit() {
    m_new_version.clear();
    ui->VersionNameEdit->clear();
}

void TForm1::Clean_OldTedit() {
    m_old_version.clear();
    ui->OldVersionNameEdit->clear();
}

std::string TForm1::Memo_Text() const {
    QString text = ui->mReceive->toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text.toStdString();
}

// ---- The download command's view ----

void TForm1::Button_Control(bool enable) {
    // A button that is disabled with the focus hands it on along the tab
    // order, to a text box whose caret would then blink through the update.
    // The window itself keeps the focus meanwhile (the menu key still works)
    // and gives it back to the button afterwards.
    QWidget* focused = focusWidget();
    if (!enable && (focused == ui->Download || focused == ui->Cancel)) {
        m_focus_before_update = focused;
        setFocus(Qt::OtherFocusReason);
    }
    ui->Download->setEnabled(enable);
    ui->Cancel->setEnabled(enable);
    if (enable) {
        if (m_focus_before_update != nullptr && focusWidget() == this)
            m_focus_before_update->setFocus(Qt::OtherFocusReason);
        m_focus_before_update = nullptr;
    }
}

void TForm1::Set_Progress_Visible(bool visible) {
    ui->TeProgressBar1->setVisible(visible);
}

void TForm1::Set_Timer1_Enabled(bool enabled) {
    if (enabled) {
        m_elapsed.Start();
        m_timer1.start();
    } else {
        m_timer1.stop();
        m_elapsed.Stop();
    }
}

void TForm1::Set_Elapsed_Seconds(int seconds) {
    m_elapsed_seconds = seconds;
    m_elapsed.Set(seconds);
}

void TForm1::Show_Message_Box(std::string_view text) {
    const QString message = From_Utf8(text);
    if (m_message_box) {
        m_message_box(message);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), message,
                    QMessageBox::Ok, this);
    box.exec();
}

// ---- Buttons and menu ----

void TForm1::DownloadClick() {
    // The command disables both buttons while it runs; a click that was
    // queued before that is refused by the runner.
    m_runner.Start();
}

void TForm1::CancelClick() {
    close();
}

void TForm1::Button_Exit_SystemClick() {
    close();
}

void TForm1::About1_oldClick() {
    if (m_form2 == nullptr)
        return;
    m_form2->show();
    m_form2->raise();
    m_form2->activateWindow();
}

// ---- Language ----

void TForm1::Set_Captions(Language language_flag) {
    ui->Download->setText(From_Utf8(caption::kDownload.For(language_flag)));
    ui->Cancel->setText(From_Utf8(caption::kCancel.For(language_flag)));
    ui->ShowTime->setText(From_Utf8(caption::kShowTime.For(language_flag)));
    ui->Label2->setText(From_Utf8(caption::kNewVersion.For(language_flag)));
    ui->Label1->setText(From_Utf8(caption::kOldVersion.For(language_flag)));
}

void TForm1::EnglishClick() {
    m_language_flag = Language::kEnglish;
    Set_Captions(m_language_flag);
    Clean_Memo();
}

void TForm1::ChineseClick() {
    m_language_flag = Language::kChinese;
    Set_Captions(m_language_flag);
    Clean_Memo();
}

// ---- Clock ----

void TForm1::Timer1Timer() {
    // Real seconds since Timer1 started, however late this tick came.
    m_elapsed_seconds = static_cast<int>(m_elapsed.Seconds());
    Print_Str_to_ToolBar(0, clock_text::Elapsed_Text(m_elapsed_seconds));
}

void TForm1::Timer2Timer() {
    Print_Str_to_ToolBar(1, clock_text::Clock_Line(m_language_flag, text::Time_Text_Now()));
}

void TForm1::ShowTimeClick() {
    if (m_timer2.isActive()) {
        m_timer2.stop();
        ui->ShowTime->setText(From_Utf8(caption::kClockOff.For(m_language_flag)));
        Print_Str_to_ToolBar(1, "");
    } else {
        // The first tick, one interval from now, fills the panel.
        m_timer2.start();
        ui->ShowTime->setText(From_Utf8(caption::kClockOn.For(m_language_flag)));
    }
}
