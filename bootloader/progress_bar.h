// The progress bar as the flash programming moves it, kept free of any
// toolkit. A window implements it over its progress control and attaches it
// to the port object once (CComport::Set_Progress_Bar).
#pragma once

class ProgressBar {
  public:
    virtual ~ProgressBar() = default;
    virtual int minimum() const = 0;
    virtual int maximum() const = 0;
    virtual int step() const = 0;
    virtual int position() const = 0;
    virtual void set_minimum(int value) = 0;
    virtual void set_maximum(int value) = 0;
    virtual void set_step(int value) = 0;
    virtual void set_position(int value) = 0;
};
