// Names an image that cannot be read, and why, instead of leaving the loader
// to fail without a word.
#include "cli/image_file.h"

#include <cstdio>

#include "cli/text_format.h"

namespace cli {

std::optional<Image_File> Check_Image_File(const std::string& path) {
    Image_File image;
    const std::string problem = platform::Regular_File_Problem(path, image.identity, &image.file);
    if (problem.empty())
        return image;
    std::fprintf(stderr, "flashtool-cli: cannot open %s: %s\n", Displayable_Text(path).c_str(),
                 problem.c_str());
    return std::nullopt;
}

}  // namespace cli
