// TStation_Form: the station window in Win32. Buttons Open image, Start,
// Stop and Settings (station_settings_dialog.h), the table of phones
// (phone_list.h), the selected phone's messages, the message area and the
// status line. Like the Qt station window it holds no station logic: the
// controls call its Station_Window_Model, and what the model shows comes back
// through the Station_Window_Face this window implements. The stations'
// events are posted to the window's thread, so it keeps painting while phones
// are busy.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "winapp/fonts.h"
#include "winapp/open_dialog.h"
#include "winapp/station/phone_list.h"
#include "winapp/station/station_settings.h"
#include "window_model/station_window_model.h"

class TStation_Form final : private Station_Window_Face {
  public:
    static constexpr wchar_t kClassName[] = L"TStationForm";
    // Posted to the window when a station's thread has queued events on it.
    static constexpr UINT kRunPendingCalls = WM_APP + 1;

    // log_folder: where each station writes its phones' logs (empty: none).
    TStation_Form(HINSTANCE instance, const Font_Set& fonts, Station_Factory factory,
                  Station_Options options, const std::wstring& log_folder);
    // The window without a model of its own, for a model made elsewhere
    // around its Face(): Bind it before the window is used.
    TStation_Form(HINSTANCE instance, const Font_Set& fonts);
    ~TStation_Form() override;
    TStation_Form(const TStation_Form&) = delete;
    TStation_Form& operator=(const TStation_Form&) = delete;

    HWND Handle() const { return m_window; }
    // A line in the message area, for what the program says before a station
    // runs (the settings it could not use).
    void Show_Message(std::string_view line) { Message_Appended(std::string(line) + "\n"); }
    // What the model calls to show itself in the controls.
    Station_Window_Face& Face() { return *this; }
    // The model the controls drive and the phone's messages come from.
    void Bind(Station_Window_Model& model) { m_model = &model; }

  private:
    template <class Form>
    friend LRESULT CALLBACK Form_Window_Procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT Handle_Message(UINT message, WPARAM w, LPARAM l);
    void Create_Window();
    void Create_Controls();
    void Place_Controls(int width, int height);
    LRESULT On_Notify(const NMHDR& header);
    void Show_Phone_Log(int index);
    // The settings dialog; its OK is Apply_Settings.
    void SettingsClick();
    // The model judges the choice (a refusal is said in the message area and
    // given back as reason); one it takes is used by the next Start and
    // written to the user's registry key.
    bool Apply_Settings(const Station_Settings& chosen, std::wstring& reason);
    HWND Control(int id) const { return GetDlgItem(m_window, id); }
    // Sets a control's text in the font that draws it (fonts.h).
    void Set_Text(HWND control, const std::wstring& text);
    // Appends to a read-only edit control, taking the Chinese face once a
    // text needs it.
    void Append(HWND edit, std::string_view text);

    // ---- Station_Window_Face ----
    void Caption_Shown(Station_Caption caption, std::string_view text) override;
    void Column_Headers_Shown(const std::vector<std::string>& headers) override;
    void Buttons_Enabled(bool open_image, bool start, bool stop) override;
    void Row_Shown(std::size_t index, const Station_Row& row) override;
    void Rows_Cleared() override;
    void Phone_Failed(std::size_t index) override;
    void Row_Line_Appended(std::size_t index, std::string_view line) override;
    void Status_Shown(std::string_view text) override;
    void Message_Appended(std::string_view text) override;
    std::optional<std::string> Choose_Image_File() override { return m_open_dialog.Choose(); }
    bool Ask_Stop_Question(std::string_view question) override;
    void Dismiss_Stop_Question() override;
    void Stop_Question_Changed(std::string_view question) override;

    HINSTANCE m_instance;
    const Font_Set& m_fonts;
    HWND m_window = nullptr;
    Open_Dialog m_open_dialog;
    Phone_List m_list;
    std::wstring m_title;
    std::wstring m_log_folder;
    // While the model judges the settings: what it says, for the dialog.
    bool m_collecting = false;
    std::string m_collected;
    UINT_PTR m_tick = 0;  // the elapsed times of working phones
    Station_Window_Model* m_model = nullptr;
    // Last: its stations end, and their events stop, before the controls go.
    std::unique_ptr<Station_Window_Model> m_own_model;
};
