// Phone_List: the station window's table of phones, a ListView in report
// mode. A row's cells are texts, but the progress column is drawn as a bar
// (its text, "42%", stays for readers of the list such as the tests), and a
// row is shaded by how its phone ended. A cell too narrow for its text shows
// the whole of it in a tooltip.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstddef>
#include <string>
#include <vector>

#include "station/station_rows.h"

class Phone_List final {
  public:
    // The columns, in the order of the model's headers.
    enum Column : int {
        kPort,
        kIdentity,
        kPhase,
        kProgress,
        kRate,
        kElapsed,
        kResult,
        kLastLine,
        kColumnCount
    };
    // One row as shown: a text per column, and what the drawing needs.
    struct Row {
        std::vector<std::wstring> cells;  // kColumnCount texts
        int percent = 0;
        Station_Row_State state = Station_Row_State::kWorking;
    };

    void Create(HWND parent, int id, HINSTANCE instance);
    HWND Handle() const { return m_list; }
    // The tooltip; its TTN_GETDISPINFOW reaches the parent, which passes it
    // to Tip_Text.
    HWND Tip_Window() const { return m_tip; }

    // The headers' texts; the columns are made on the first call.
    void Set_Headers(const std::vector<std::wstring>& headers);
    // Shows row index; one past the last adds it (and scrolls to it).
    void Show_Row(std::size_t index, const Row& row);
    void Clear();
    // The selected row, or -1.
    int Selected() const;
    // NM_CUSTOMDRAW of the list: the shades and the bars.
    LRESULT Custom_Draw(NMLVCUSTOMDRAW& draw) const;
    // The whole text of the cell at a point of the list's client area, when
    // its column is too narrow for it; empty otherwise (and for the bars).
    std::wstring Cut_Cell_Text(POINT point) const;
    // The tooltip's text: the cut cell under the mouse, or none.
    void Tip_Text(NMTTDISPINFOW& info);

  private:
    void Draw_Bar(HDC dc, std::size_t index, COLORREF background) const;
    // The list's mouse moves: a new cell takes the tooltip away, so that it
    // asks again for the cell it then rests on.
    static LRESULT CALLBACK List_Procedure(HWND list, UINT message, WPARAM w, LPARAM l, UINT_PTR id,
                                           DWORD_PTR self);

    HWND m_list = nullptr;
    HWND m_tip = nullptr;
    POINT m_tip_cell{-1, -1};  // item and column under the mouse
    std::wstring m_tip_text;   // the text shown, alive while it shows
    bool m_columns_made = false;
    std::vector<Row> m_rows;
};
