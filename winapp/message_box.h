// The program's message boxes: the completion box of an update, the question
// before stopping an update, and the box for an error that escapes the
// program.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

#include "winapp/fonts.h"

// A modal box with an OK button; returns when the user has closed it. The
// system's message font lacks Han glyphs where Wine runs and draws them in
// the system language's shapes on Windows, so a text with Chinese is set in
// the window's Traditional Chinese face, and the box grows to fit it.
void Show_Completion_Box(HWND owner, const std::wstring& text, const wchar_t* caption,
                         const Font_Set& fonts);

// The same kind of box with Yes and No (No the default); true for Yes.
bool Ask_Yes_No(HWND owner, const std::wstring& text, const wchar_t* caption,
                const Font_Set& fonts);
// While that box shows: answers it with No, as if the user had.
void Answer_No_To_Question();
// While that box shows: it says text instead (the box keeps its size).
void Change_Question_Text(const std::wstring& text);

void Show_Error_Box(const std::exception& error);
