// Station_Window: the station window in Qt. A table of phones, one row per
// arrival with its progress bar, the buttons Open image, Start and Stop, a
// pane with the selected phone's messages, a message area for the image's
// messages and a status line with the counters. Everything it shows comes from its
// Station_Window_Model through the Station_Window_Face it implements; the stations' events arrive
// on the window's thread, so the window keeps painting while phones are busy.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <memory>

#include "app/open_dialog.h"
#include "app/stop_question.h"
#include "window_model/station_window_model.h"

class Journal_Service;
class QLabel;
class QMessageBox;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

class Station_Window : public QWidget, private Station_Window_Face {
    Q_OBJECT
  public:
    // The columns of the table, in the model's order of headers.
    enum Column { kPort, kIdentity, kPhase, kProgress, kRate, kElapsed, kResult, kLastLine };

    // The logs go to the folder the user's settings name (kLogFolderKey),
    // else to "station-logs" in the application's data folder.
    Station_Window(Station_Factory factory, Station_Options options, QWidget* parent = nullptr);
    static constexpr const char* kLogFolderKey = "station/log_folder";
    // Which ports are phones': remembered for the user as the dialog left them.
    static constexpr const char* kMatchKey = "station/match";
    static constexpr const char* kSlotsFileKey = "station/slots_file";
    static constexpr const char* kOnlySlotsKey = "station/only_slots";
    // The line's PostgreSQL server the journal's records go to; empty: none.
    static constexpr const char* kJournalServerKey = "station/journal_server";
    QString Log_Folder() const { return m_log_folder; }
    ~Station_Window() override;

    // The journal the window's stations write to (their factory holds its
    // writer): its lines go to the message area, its records to the server
    // the user's settings name, and the records waiting to the status line.
    void Follow_Journal(std::shared_ptr<Journal_Service> journal);

    Station_Window_Model& Model() { return m_model; }
    QTableWidget& Table() { return *m_table; }

    // ---- Seams for tests ----
    Open_Dialog& OpenDialog() { return m_open_dialog; }
    // Asked before a stop or close that would stop phones being rewritten;
    // true stops them. Tests answer instead of the user.
    void Set_Stop_Question(Stop_Question::Answer_Function ask) {
        m_stop_question.Answer_With(std::move(ask));
    }
    QString Status_Text() const;
    QString Message_Text() const;
    QString Phone_Log_Text() const;

  public slots:
    void OpenImageClick() { m_model.OpenImageClick(); }
    void StartClick() { m_model.StartClick(); }
    void StopClick() { m_model.StopClick(); }
    // The settings dialog; its OK is Apply_Settings.
    void SettingsClick();

  public:
    // What the dialog's OK does: the model judges the choice (a refusal is
    // said in the message area and changes nothing); one it takes is used by
    // the next Start and remembered for the user.
    bool Apply_Settings(const Station_Port_Choice& choice, const QString& log_folder);
    // The same for the journal's server: one that is no server address is
    // refused with the reason; one taken is followed at once.
    bool Apply_Journal_Server(const QString& server);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // Station_Window_Face
    void Caption_Shown(Station_Caption caption, std::string_view text) override;
    void Column_Headers_Shown(const std::vector<std::string>& headers) override;
    void Buttons_Enabled(bool open_image, bool start, bool stop) override;
    void Row_Shown(std::size_t index, const Station_Row& row) override;
    void Rows_Cleared() override;
    void Phone_Failed(std::size_t index) override;
    void Row_Line_Appended(std::size_t index, std::string_view line) override;
    void Show_Phone_Log(int row);
    void Load_Settings();
    void Status_Shown(std::string_view text) override;
    void Message_Appended(std::string_view text) override;
    std::optional<std::string> Choose_Image_File() override { return m_open_dialog.Choose(); }
    bool Ask_Stop_Question(std::string_view question) override;
    void Dismiss_Stop_Question() override;
    void Stop_Question_Changed(std::string_view question) override;

    Open_Dialog m_open_dialog;
    QPushButton* m_open_image = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_settings = nullptr;
    QTableWidget* m_table = nullptr;
    QPlainTextEdit* m_phone_log = nullptr;  // the selected phone's messages
    QPlainTextEdit* m_messages = nullptr;
    QLabel* m_status = nullptr;
    QTimer m_tick;  // the elapsed times of working phones
    Stop_Question m_stop_question;
    QString m_log_folder;
    std::shared_ptr<Journal_Service> m_journal;
    QString m_journal_server;
    // Last: its stations end, and their events stop, before the controls go.
    Station_Window_Model m_model;
};
