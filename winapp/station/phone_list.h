// Phone_List: the station window's table of phones, a ListView in report
// mode. A row's cells are texts, but the progress column is drawn as a bar
// (its text, "42%", stays for readers of the list such as the tests), and a
// row is shaded by how its phone ended.
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

    // The headers' texts; the columns are made on the first call.
    void Set_Headers(const std::vector<std::wstring>& headers);
    // Shows row index; one past the last adds it (and scrolls to it).
    void Show_Row(std::size_t index, const Row& row);
    void Clear();
    // The selected row, or -1.
    int Selected() const;
    // NM_CUSTOMDRAW of the list: the shades and the bars.
    LRESULT Custom_Draw(NMLVCUSTOMDRAW& draw) const;

  private:
    void Draw_Bar(HDC dc, std::size_t index, COLORREF background) const;

    HWND m_list = nullptr;
    bool m_columns_made = false;
    std::vector<Row> m_rows;
};
