// The font database asked once at start-up.
#include "app/chinese_font.h"

#include <QFontDatabase>
#include <QStringList>

bool Chinese_Font_Installed() {
    return !QFontDatabase::families(QFontDatabase::TraditionalChinese).isEmpty();
}

void Warn_Once_Without_Chinese_Font(std::FILE* err, bool installed) {
    static bool warned = false;
    if (installed || warned)
        return;
    warned = true;
    std::fputs(
        "flashtool: no Traditional Chinese font is installed, so the window's Chinese "
        "text shows as boxes; install one (on Debian: sudo apt-get install "
        "fonts-noto-cjk)\n",
        err);
    std::fflush(err);
}
