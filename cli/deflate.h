// zlib's deflate over a whole buffer in memory, for the support archive's
// two forms: a gzip file (the tar.gz) and a zip's member.
#pragma once

#include <optional>
#include <string>

namespace cli {

// How the deflated data is framed: a gzip file's header and trailer, or
// none (a zip's own records frame its members).
enum class Deflate_Frame { kGzip, kRaw };

// data deflated at the best compression; nothing when zlib refuses. Under
// 4 GiB: callers check that first.
std::optional<std::string> Deflated(const std::string& data, Deflate_Frame frame);

}  // namespace cli
