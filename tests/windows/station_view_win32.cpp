// The station rows' window in the Windows build: the real TStation_Form of
// flashtool-station.exe, hidden, bound to each row's model, its controls
// read back after the row's steps (list cells, buttons, captions, status
// line, message area and the selected phone's messages).
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "tests/support/recording_station_face.h"
#include "winapp/fonts.h"
#include "winapp/resource_ids.h"
#include "winapp/station/station_form.h"
#include "winapp/wide_text.h"

namespace test_support {
namespace {

const Font_Set& Fonts() {
    static const Font_Set fonts = [] {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        return Font_Set();
    }();
    return fonts;
}

std::wstring Text_Of(HWND control) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring Cell(HWND list, int item, int column) {
    std::wstring text(4096, L'\0');
    ListView_GetItemText(list, item, column, text.data(), static_cast<int>(text.size()));
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

std::wstring Header(HWND list, int column) {
    std::wstring text(256, L'\0');
    LVCOLUMNW header{};
    header.mask = LVCF_TEXT;
    header.pszText = text.data();
    header.cchTextMax = static_cast<int>(text.size());
    if (!ListView_GetColumn(list, column, &header))
        return L"(no column)";
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

// What the list shows of a row, cell by cell, in the model's column order.
std::vector<std::wstring> Cells_Of(const Station_Row& row) {
    return {Wide(row.port_text),   Wide(row.identity),
            Wide(row.phase_text),  std::to_wstring(row.percent) + L"%",
            Wide(row.rate_text),   Wide(row.elapsed_text),
            Wide(row.result_text), Wide(row.advice_text.empty() ? row.last_line : row.advice_text)};
}

class Win32_Station_View final : public Station_View_Under_Test {
  public:
    Win32_Station_View() : m_form(GetModuleHandleW(nullptr), Fonts()) {}

    Station_Window_Face& Face() override { return m_form.Face(); }
    void Bind(Station_Window_Model& model) override { m_form.Bind(model); }

    void Check_Shows(const Recording_Station_Face& recorded) override {
        SCOPED_TRACE("the Win32 station window");
        const HWND window = m_form.Handle();
        ASSERT_TRUE(IsWindow(window));
        const auto control = [window](int id) { return GetDlgItem(window, id); };
        const auto caption = [&recorded](Station_Caption which) {
            const auto found = recorded.captions.find(which);
            return found == recorded.captions.end() ? std::wstring() : Wide(found->second);
        };
        EXPECT_EQ(Text_Of(window), caption(Station_Caption::kTitle));
        EXPECT_EQ(Text_Of(control(IDC_STATION_OPEN_IMAGE)), caption(Station_Caption::kOpenImage));
        EXPECT_EQ(Text_Of(control(IDC_STATION_START)), caption(Station_Caption::kStart));
        EXPECT_EQ(Text_Of(control(IDC_STATION_STOP)), caption(Station_Caption::kStop));
        EXPECT_EQ(Text_Of(control(IDC_STATION_SETTINGS)), caption(Station_Caption::kSettings));
        EXPECT_EQ(IsWindowEnabled(control(IDC_STATION_OPEN_IMAGE)) != FALSE, recorded.open_on);
        EXPECT_EQ(IsWindowEnabled(control(IDC_STATION_START)) != FALSE, recorded.start_on);
        EXPECT_EQ(IsWindowEnabled(control(IDC_STATION_STOP)) != FALSE, recorded.stop_on);
        // The settings are chosen between stations, as an image is.
        EXPECT_EQ(IsWindowEnabled(control(IDC_STATION_SETTINGS)) != FALSE, recorded.open_on);
        EXPECT_EQ(Text_Of(control(IDC_STATION_STATUS)), Wide(recorded.status));
        EXPECT_EQ(Text_Of(control(IDC_STATION_MESSAGES)), With_Crlf(Wide(recorded.messages)));

        const HWND list = control(IDC_STATION_PHONES);
        for (std::size_t column = 0; column < recorded.headers.size(); ++column)
            EXPECT_EQ(Header(list, static_cast<int>(column)), Wide(recorded.headers[column]));
        ASSERT_EQ(static_cast<std::size_t>(ListView_GetItemCount(list)), recorded.rows.size());
        for (std::size_t index = 0; index < recorded.rows.size(); ++index) {
            SCOPED_TRACE("row " + std::to_string(index));
            const std::vector<std::wstring> cells = Cells_Of(recorded.rows[index]);
            for (std::size_t column = 0; column < cells.size(); ++column)
                EXPECT_EQ(Cell(list, static_cast<int>(index), static_cast<int>(column)),
                          cells[column])
                    << "column " << column;
        }

        // The selected phone's messages: first as the lines appended since
        // the last probe left it selected, then each row's as its selection
        // shows them; the last row stays selected for the next probe.
        const HWND log = control(IDC_STATION_PHONE_LOG);
        const auto lines_of = [&recorded](std::size_t index) {
            const auto found = recorded.row_lines.find(index);
            return found == recorded.row_lines.end() ? std::wstring()
                                                     : With_Crlf(Wide(found->second));
        };
        const int selected = ListView_GetNextItem(list, -1, LVNI_SELECTED);
        if (selected >= 0) {
            EXPECT_EQ(Text_Of(log), lines_of(static_cast<std::size_t>(selected)))
                << "selected row " << selected;
        }
        for (std::size_t index = 0; index < recorded.rows.size(); ++index) {
            ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
            ListView_SetItemState(list, static_cast<int>(index), LVIS_SELECTED, LVIS_SELECTED);
            EXPECT_EQ(Text_Of(log), lines_of(index)) << "row " << index << " selected";
        }
    }

  private:
    TStation_Form m_form;
};

}  // namespace

std::unique_ptr<Station_View_Under_Test> Make_Station_View_Under_Test() {
    return std::make_unique<Win32_Station_View>();
}

}  // namespace test_support
