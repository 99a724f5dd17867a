// The introduction, compiled in from its text file.
#include "window_model/layout.h"

#include "introduction_text.h"

namespace layout {

std::string_view Introduction_Text() {
    return kIntroductionText;
}

}  // namespace layout
