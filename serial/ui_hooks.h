// What the serial-port object needs from the window, kept free of any toolkit.
//
// The window implements ProgressBar over its progress control; the port object
// only stores a pointer to it, and the flash programming moves it.
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
