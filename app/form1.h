// TForm1: the main window in Qt. Its controls are built from the layout
// table (window_model/layout.h) under the names the rest of the program uses
// (Download, mReceive, TeProgressBar1, ...) and bound to the window model:
// their events call the model's handlers, and the model's changes come back
// through the Main_Window_Face this window implements. The window adds only
// what is Qt's: widgets, timers, the dialogs and the boxes.
//
// The update runs on a worker thread (Update_Runner); its calls into the
// model arrive on the window's thread, so the window keeps painting and
// answering while the phone is busy.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/open_dialog.h"
#include "app/stop_question.h"
#include "window_model/main_window_model.h"

class QLabel;
class QLineEdit;
class QMenuBar;
class QMessageBox;
class QPlainTextEdit;
class QProgressBar;
class TForm2;

class TForm1 : public QWidget, private Main_Window_Face {
    Q_OBJECT
  public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;  // FormDestroy

    Main_Window_Model& Model() { return m_model; }
    Phone_Panel& Panel() { return m_model.Panel(); }
    CComport& Comport() { return m_model.Panel().Comport(); }
    Update_Runner& Runner() { return m_model.Panel().Runner(); }

    // ---- Seams for tests and the version window ----
    Open_Dialog& OpenDialog1() { return m_open_dialog; }
    using Message_Box_Function = std::function<void(const QString& text)>;
    void Set_Message_Box(Message_Box_Function show) { m_message_box = std::move(show); }
    // Asked before a close that would stop an update with the phone at risk;
    // true stops it. Tests answer instead of the user.
    void Set_Stop_Question(Stop_Question::Answer_Function ask) {
        m_stop_question.Answer_With(std::move(ask));
    }
    // What a close does after temp.log and the port (the process exit).
    void Set_Exit_Function(std::function<void()> exit) { m_exit = std::move(exit); }
    void Set_Version_Window(TForm2* form2) { m_form2 = form2; }
    QTimer& Timer1() { return m_timer1; }
    QTimer& Timer2() { return m_timer2; }
    // The message area's text as bytes: lines end in CR LF.
    std::string Memo_Text() const;

  public slots:
    void DownloadClick() { m_model.DownloadClick(); }
    void CancelClick() { close(); }
    void Button_Exit_SystemClick() { close(); }
    void ShowTimeClick() { m_model.ShowTimeClick(); }
    void EnglishClick() { m_model.EnglishClick(); }
    void ChineseClick() { m_model.ChineseClick(); }
    void About1_oldClick();
    void Timer1Timer() { m_model.Timer1Timer(); }
    void Timer2Timer() { m_model.Timer2Timer(); }

  protected:
    void closeEvent(QCloseEvent* event) override;  // FormClose

  private:
    void Build_Controls();
    QWidget* Build_Control(const layout::Control_Layout& layout);
    void Build_Menus();
    bool Ask_Stop_Update(std::string_view question);

    // Main_Window_Face
    void Memo_Appended(std::string_view text) override;
    void Memo_Cleared() override;
    void Field_Shown(Field field, std::string_view text) override;
    void Buttons_Enabled(bool enabled) override;
    void Progress_Shown(int minimum, int maximum, int position) override;
    void Progress_Visible(bool visible) override;
    void Timer1_Running(bool running) override;
    std::optional<std::string> Choose_Image_File() override { return m_open_dialog.Choose(); }
    void Show_Completion_Box(std::string_view text) override;
    void Dismiss_Stop_Question() override;
    void Caption_Shown(layout::Control control, std::string_view caption) override;
    void Status_Panel_Shown(int panel, std::string_view text) override;
    void Timer2_Running(bool running) override;

    QWidget* Control(layout::Control control) const;

    Main_Window_Model m_model;
    Open_Dialog m_open_dialog;
    std::array<QWidget*, layout::kForm1Controls.size()> m_controls{};  // by table row
    QPlainTextEdit* m_memo = nullptr;
    QLineEdit* m_new_version = nullptr;
    QLineEdit* m_old_version = nullptr;
    QProgressBar* m_bar = nullptr;
    std::array<QLabel*, 2> m_panels{};
    QMenuBar* m_menu_bar = nullptr;
    QTimer m_timer1;
    QTimer m_timer2;
    TForm2* m_form2 = nullptr;                // not owned
    QPointer<QWidget> m_focus_before_update;  // the button that had the focus
    Message_Box_Function m_message_box;
    Stop_Question m_stop_question;
    std::function<void()> m_exit;
};
