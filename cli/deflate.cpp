// One call of deflate into a buffer of deflateBound's size: it finishes the
// stream at once.
#include "cli/deflate.h"

#include <zlib.h>

namespace cli {

std::optional<std::string> Deflated(const std::string& data, Deflate_Frame frame) {
    // 15 window bits; +16 for a gzip header and trailer, negative for none.
    const int window_bits = frame == Deflate_Frame::kGzip ? 15 + 16 : -15;
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        return std::nullopt;
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        return std::nullopt;
    return out;
}

}  // namespace cli
