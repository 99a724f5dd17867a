// TForm1: the main window. Its controls come from form1.ui under the names the
// rest of the program uses (Download, mReceive, TeProgressBar1, ...); it is the
// download command's view, owns the serial-port object, speaks Chinese or
// English, and runs the elapsed-time and clock timers of the status bar.
#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/open_dialog.h"
#include "app/progress_adapter.h"
#include "download/download_command.h"
#include "download/download_view.h"
#include "serial/comport.h"

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
    void Set_Elapsed_Seconds(int seconds) override { m_elapsed_seconds = seconds; }
    void Show_Message_Box(std::string_view text) override;
    Language Language_Flag() const override { return m_language_flag; }

    // ---- Seams for tests and the version window ----
    CComport& Comport() { return m_comport; }
    DownloadCommand& Download_Command() { return m_download; }
    Open_Dialog& OpenDialog1() { return m_open_dialog; }
    using Message_Box_Function = std::function<void(const QString& text)>;
    void Set_Message_Box(Message_Box_Function show) { m_message_box = std::move(show); }
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

    std::unique_ptr<Ui::Form1> ui;
    CComport m_comport;
    Progress_Bar_Adapter m_progress;
    Open_Dialog m_open_dialog;
    DownloadCommand m_download;
    QTimer m_timer1;
    QTimer m_timer2;
    Hidden_Menu_Keys* m_menu_keys = nullptr;  // owned by the window
    TForm2* m_form2 = nullptr;                // not owned
    Message_Box_Function m_message_box;
    Language m_language_flag = Language::kChinese;
    int m_elapsed_seconds = 0;
    bool m_download_running = false;
    // The version fields' bytes as appended; the fields show them decoded.
    std::string m_new_version;
    std::string m_old_version;
    std::string m_panel_text[2];
};
