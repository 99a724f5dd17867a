// The progress bar as the flash programming moves it, kept free of any
// toolkit: it is told its range and its position and never asked for them
// (CComport keeps the position). A window implements it over its progress
// control; it is attached to the port object once (CComport::Set_Progress_Bar).
#pragma once

class ProgressBar {
  public:
    virtual ~ProgressBar() = default;
    virtual void Set_Range(int minimum, int maximum) = 0;
    virtual void Set_Position(int position) = 0;
};
