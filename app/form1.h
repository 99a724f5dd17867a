// TForm1: the main window. Its controls come from form1.ui under the names the
// rest of the program uses (Download, mReceive, TeProgressBar1, ...); it is the
// download command's view, speaks Chinese or English, and runs the
// elapsed-time and clock timers of the status bar.
//
// The update runs on a worker thread (Update_Runner); its calls into this
// view arrive on the window's thread, so the window keeps painting and
// answering while the phone is busy.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/open_dialog.h"
#include "app/progress_adapter.h"
#include "download/clock_text.h"
#include "download/download_view.h"
#include "download/update_runner.h"

namespace Ui {
class Form1;
}
class QLineEdit;
class TForm2;
class Hidden_Menu_Keys;

class TForm1 : public QWidget, public DownloadView {
    Q_OBJECT
  public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;  // FormDestroy

    // ---- Message output ----
    void Print_Str_to_Memo(std::string_view text) override;
    void Print_Str_to_Tedit(std::string_view text) override;
    void Print_Str_to_OldTedit(std::string_view text) override;
    void Print_Str_to_ToolBar(int panel, std::string_view text) override;
    void Clean_Memo() override;
    void Clean_Tedit() override;
    void Clean_OldTedit() override;

    // ---- What the download command uses ----
    void Button_Control(bool enable) override;
    ImageFileChooser& Image_Dialog() override { return m_open_dialog; }
    ProgressBar& Progress_Bar() override { return m_progress; }
    void Set_Progress_Visible(bool visible) override;
    void Set_Timer1_Enabled(bool enabled) override;
    void Set_Elapsed_Seconds(int seconds) override;
    void Show_Message_Box(std::string_view text) override;
    Language Language_Flag() const override { return m_language_flag; }

    // ---- Seams for tests and the version window ----
    CComport& Comport() { return m_runner.Port(); }
    Update_Runner& Runner() { return m_runner; }
    Open_Dialog& OpenDialog1() { return m_open_dialog; }
    using Message_Box_Function = std::function<void(const QString& text)>;
    void Set_Message_Box(Message_Box_Function show) { m_message_box = std::move(show); }
    // Asked before a close that would stop an update with the phone at risk;
    // true stops it. Tests answer instead of the user.
    using Stop_Question_Function = std::function<bool(const QString& text)>;
    void Set_Stop_Question(Stop_Question_Function ask) { m_stop_question = std::move(ask); }
    // What a close does after temp.log and the port (the process exit).
    void Set_Exit_Function(std::function<void()> exit) { m_exit = std::move(exit); }
    void Set_Version_Window(TForm2* form2) { m_form2 = form2; }
    int Elapsed_Seconds() const { return m_elapsed_seconds; }
    QTimer& Timer1() { return m_timer1; }
    QTimer& Timer2() { return m_timer2; }
    // The message area's text as bytes: lines end in CR LF.
    std::string Memo_Text() const;
    // A status panel's text as last set (the panel shows it on one line).
    const std::string& Panel_Text(int panel) const;

  public slots:
    void DownloadClick();
    void CancelClick();
    void Button_Exit_SystemClick();
    void ShowTimeClick();
    void EnglishClick();
    void ChineseClick();
    void About1_oldClick();
    void Timer1Timer();
    void Timer2Timer();

  protected:
    void closeEvent(QCloseEvent* event) override;  // FormClose

  private:
    void FormCreate();
    void Set_Captions(Language language);
    void Show_Version_Field(QLineEdit& field, const std::string& bytes);
    // Whether the user lets a close stop the running update.
    bool Close_May_Stop_Update();

    std::unique_ptr<Ui::Form1> ui;
    Progress_Bar_Adapter m_progress;
    Open_Dialog m_open_dialog;
    Update_Runner m_runner;
    clock_text::Elapsed_Clock m_elapsed;
    QTimer m_timer1;
    QTimer m_timer2;
    Hidden_Menu_Keys* m_menu_keys = nullptr;  // owned by the window
    TForm2* m_form2 = nullptr;                // not owned
    QPointer<QWidget> m_focus_before_update;  // the button that had the focus
    Message_Box_Function m_message_box;
    Stop_Question_Function m_stop_question;
    std::function<void()> m_exit;
    Language m_language_flag = Language::kChinese;
    int m_elapsed_seconds = 0;
    bool m_asking_to_stop = false;
    // The version fields' bytes as appended; the fields show them decoded.
    std::string m_new_version;
    std::string m_old_version;
    std::string m_panel_text[2];
};
