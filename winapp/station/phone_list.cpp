// Phone_List: the ListView calls, and the custom draw of shades and bars.
#include "winapp/station/phone_list.h"

#include <windowsx.h>

#include <algorithm>
#include <iterator>

namespace {

// The widths of the columns, as the Qt window's; the last takes the rest.
constexpr int kWidths[Phone_List::kColumnCount] = {120, 170, 110, 130, 80, 70, 140, 320};

// The shades of a finished row: how it ended, at a glance across the bench.
constexpr COLORREF kFailedShade = RGB(255, 208, 208);
constexpr COLORREF kUpdatedShade = RGB(212, 242, 212);
constexpr COLORREF kBarColour = RGB(6, 176, 37);
constexpr COLORREF kBarFrame = RGB(160, 160, 160);
// A cell's text needs its width and the list's margins either side.
constexpr int kCellMargins = 12;
constexpr int kTipWidth = 600;  // longer tips wrap

bool Shade_Of(Station_Row_State state, COLORREF& shade) {
    if (state == Station_Row_State::kFailed)
        shade = kFailedShade;
    else if (state == Station_Row_State::kUpdated)
        shade = kUpdatedShade;
    else
        return false;
    return true;
}

void Set_Cell(HWND list, int item, int column, const std::wstring& text) {
    LVITEMW cell{};
    cell.iSubItem = column;
    cell.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(item),
                 reinterpret_cast<LPARAM>(&cell));
}

}  // namespace

void Phone_List::Create(HWND parent, int id, HINSTANCE instance) {
    m_list = CreateWindowExW(
        WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0, 0,
        0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    const DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER;
    SendMessageW(m_list, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);

    m_tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                            WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr, instance, nullptr);
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = parent;
    tool.uId = reinterpret_cast<UINT_PTR>(m_list);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(m_tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(m_tip, TTM_SETMAXTIPWIDTH, 0, kTipWidth);
    SetWindowSubclass(m_list, List_Procedure, 0, reinterpret_cast<DWORD_PTR>(this));
}

std::wstring Phone_List::Cut_Cell_Text(POINT point) const {
    LVHITTESTINFO hit{};
    hit.pt = point;
    if (SendMessageW(m_list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)) < 0 ||
        hit.iItem < 0 || hit.iSubItem < 0 || hit.iSubItem >= kColumnCount ||
        hit.iSubItem == kProgress || static_cast<std::size_t>(hit.iItem) >= m_rows.size())
        return {};
    const std::wstring& text =
        m_rows[static_cast<std::size_t>(hit.iItem)].cells[static_cast<std::size_t>(hit.iSubItem)];
    RECT cell{};
    cell.top = hit.iSubItem;
    cell.left = LVIR_LABEL;
    if (text.empty() || !SendMessageW(m_list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(hit.iItem),
                                      reinterpret_cast<LPARAM>(&cell)))
        return {};
    const auto width = static_cast<int>(
        SendMessageW(m_list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text.c_str())));
    return width + kCellMargins > cell.right - cell.left ? text : std::wstring();
}

void Phone_List::Tip_Text(NMTTDISPINFOW& info) {
    POINT point{};
    GetCursorPos(&point);
    ScreenToClient(m_list, &point);
    m_tip_text = Cut_Cell_Text(point);
    info.lpszText = m_tip_text.data();
}

LRESULT CALLBACK Phone_List::List_Procedure(HWND list, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                            DWORD_PTR self) {
    if (message == WM_MOUSEMOVE) {
        auto& phones = *reinterpret_cast<Phone_List*>(self);
        LVHITTESTINFO hit{};
        hit.pt = {GET_X_LPARAM(l), GET_Y_LPARAM(l)};
        SendMessageW(list, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        const POINT cell{hit.iItem, hit.iSubItem};
        if (cell.x != phones.m_tip_cell.x || cell.y != phones.m_tip_cell.y) {
            phones.m_tip_cell = cell;
            SendMessageW(phones.m_tip, TTM_POP, 0, 0);
        }
    } else if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(list, List_Procedure, 0);
    }
    return DefSubclassProc(list, message, w, l);
}

void Phone_List::Set_Headers(const std::vector<std::wstring>& headers) {
    const int count = std::min(static_cast<int>(headers.size()), static_cast<int>(kColumnCount));
    for (int column = 0; column < count; ++column) {
        LVCOLUMNW header{};
        header.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        header.cx = kWidths[column];
        header.iSubItem = column;
        header.pszText = const_cast<wchar_t*>(headers[static_cast<std::size_t>(column)].c_str());
        if (!m_columns_made) {
            SendMessageW(m_list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column),
                         reinterpret_cast<LPARAM>(&header));
        } else {
            header.mask = LVCF_TEXT;  // a width the user dragged stays
            SendMessageW(m_list, LVM_SETCOLUMNW, static_cast<WPARAM>(column),
                         reinterpret_cast<LPARAM>(&header));
        }
    }
    m_columns_made = true;
}

void Phone_List::Show_Row(std::size_t index, const Row& row) {
    const int item = static_cast<int>(index);
    if (index >= m_rows.size()) {
        m_rows.resize(index + 1);
        LVITEMW added{};
        added.mask = LVIF_TEXT;
        added.iItem = item;
        added.pszText = const_cast<wchar_t*>(L"");
        SendMessageW(m_list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&added));
        SendMessageW(m_list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(item), FALSE);
    }
    Row& shown = m_rows[index];
    for (int column = 0; column < kColumnCount; ++column) {
        const auto at = static_cast<std::size_t>(column);
        const std::wstring& text = at < row.cells.size() ? row.cells[at] : std::wstring();
        // Unchanged cells are left alone: the elapsed time ticks every second.
        if (at < shown.cells.size() && shown.cells[at] == text)
            continue;
        Set_Cell(m_list, item, column, text);
    }
    const bool redraw = shown.percent != row.percent || shown.state != row.state;
    shown = row;
    shown.cells.resize(kColumnCount);
    if (redraw)
        SendMessageW(m_list, LVM_REDRAWITEMS, static_cast<WPARAM>(item), item);
}

void Phone_List::Clear() {
    SendMessageW(m_list, LVM_DELETEALLITEMS, 0, 0);
    m_rows.clear();
}

int Phone_List::Selected() const {
    return static_cast<int>(
        SendMessageW(m_list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

LRESULT Phone_List::Custom_Draw(NMLVCUSTOMDRAW& draw) const {
    switch (draw.nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT:
            return CDRF_NOTIFYSUBITEMDRAW;
        case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
            const std::size_t index = draw.nmcd.dwItemSpec;
            COLORREF shade = GetSysColor(COLOR_WINDOW);
            const bool shaded = index < m_rows.size() && Shade_Of(m_rows[index].state, shade);
            // Every cell of the row is set: a cell keeps the colours the
            // one before it was drawn in otherwise.
            draw.clrTextBk = shaded ? shade : CLR_DEFAULT;
            draw.clrText = CLR_DEFAULT;
            if (draw.iSubItem == kProgress && index < m_rows.size()) {
                Draw_Bar(draw.nmcd.hdc, index, shade);
                return CDRF_SKIPDEFAULT;
            }
            return CDRF_NEWFONT;
        }
        default:
            return CDRF_DODEFAULT;
    }
}

void Phone_List::Draw_Bar(HDC dc, std::size_t index, COLORREF background) const {
    RECT cell{};
    cell.top = kProgress;
    cell.left = LVIR_BOUNDS;
    if (!SendMessageW(m_list, LVM_GETSUBITEMRECT, index, reinterpret_cast<LPARAM>(&cell)))
        return;
    HBRUSH back = CreateSolidBrush(background);
    FillRect(dc, &cell, back);
    DeleteObject(back);

    RECT bar = cell;
    InflateRect(&bar, -3, -3);
    if (bar.right <= bar.left || bar.bottom <= bar.top)
        return;
    HBRUSH frame = CreateSolidBrush(kBarFrame);
    FrameRect(dc, &bar, frame);
    DeleteObject(frame);
    const Row& row = m_rows[index];
    RECT done = bar;
    InflateRect(&done, -1, -1);
    done.right = done.left + (done.right - done.left) * std::clamp(row.percent, 0, 100) / 100;
    if (done.right > done.left) {
        HBRUSH fill = CreateSolidBrush(kBarColour);
        FillRect(dc, &done, fill);
        DeleteObject(fill);
    }
    const std::wstring& text = row.cells[kProgress];
    const int mode = SetBkMode(dc, TRANSPARENT);
    const COLORREF colour = SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bar,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SetTextColor(dc, colour);
    SetBkMode(dc, mode);
}
