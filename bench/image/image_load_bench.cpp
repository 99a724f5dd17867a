// Measures the image loader against the cheapest possible way to get the same
// file into memory: one fread into one buffer. Writes a 64 MiB image to a
// temporary file, then in the same run
//   - times one fread of the whole file and Parse_File, alternating, several
//     rounds, and prints the median of each and their ratio;
//   - runs each once in a fresh child process (this program re-executed),
//     which reports its own peak resident memory (VmHWM), to compare the loader's peak
//     with the file size and with the fread's peak.
// Usage: bench_image_load [size_MiB] [rounds]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "download/image_loader.h"

namespace {

class Null_Output : public Silent_Output {
  public:
    void Print_Str_to_Memo(std::string_view text) override {
        std::fprintf(stderr, "loader: %.*s\n", static_cast<int>(text.size()), text.data());
    }
};

using Fixed_Dialog = Fixed_Image_File;

void Put(std::FILE* file, std::uint32_t value, int bytes) {
    for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) {
        std::fputc(static_cast<int>((value >> shift) & 0xFF), file);
    }
}

// An image of exactly total bytes: 57-byte header, two regions of about half
// the rest each, filled with pseudo-random bytes.
bool Write_Image(const std::string& path, std::uint64_t total) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const std::uint32_t header = 57;
    const auto data = static_cast<std::uint32_t>(total - header);
    const std::uint32_t first = data / 2;
    const std::uint32_t second = data - first;
    Put(file, header, 2);
    Put(file, 32, 2);
    std::fputs("CVLbenchVersion_0000000000000000", file);
    Put(file, 0, 1);
    Put(file, 0x00000000, 4);
    Put(file, first - 1, 4);
    Put(file, 0, 4);
    Put(file, 0x10000000, 4);
    Put(file, 0x10000000 + second - 1, 4);
    std::vector<std::uint32_t> block(1 << 18);
    std::uint32_t state = 12345;
    std::uint64_t left = data;
    while (left > 0) {
        for (auto& word : block) {
            state = state * 1664525u + 1013904223u;
            word = state;
        }
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>(left, block.size() * sizeof(std::uint32_t)));
        if (std::fwrite(block.data(), 1, n, file) != n) {
            std::fclose(file);
            return false;
        }
        left -= n;
    }
    return std::fclose(file) == 0;
}

// The reference: the whole file into one fresh buffer with one fread.
bool Read_Whole_File(const std::string& path, std::uint64_t size) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size]);
    const bool ok = std::fread(buffer.get(), 1, size, file) == size;
    std::fclose(file);
    return ok;
}

bool Load_Image(const std::string& path) {
    Firmware_Image image;
    Null_Output output;
    Fixed_Dialog dialog(path);
    return Parse_File(image, output, dialog) == Image_Load_Result::kLoaded;
}

double Seconds_Of(bool (*work)(const std::string&, std::uint64_t), const std::string& path,
                  std::uint64_t size, bool& ok) {
    const auto start = std::chrono::steady_clock::now();
    ok = work(path, size) && ok;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool Load_Image_Sized(const std::string& path, std::uint64_t) {
    return Load_Image(path);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// This process's peak resident set in bytes (VmHWM), 0 if unknown. Taken
// in a freshly executed child, it covers that child's work alone.
std::uint64_t Own_Peak_Bytes() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return 0;
    }
    char line[256];
    unsigned long long kilobytes = 0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmHWM: %llu kB", &kilobytes) == 1) {
            break;
        }
    }
    std::fclose(status);
    return kilobytes * 1024;
}

// Runs this program again as "--child <mode> <path> <size>" and answers the
// child's peak resident set in bytes, or 0 on failure.
std::uint64_t Child_Peak_Bytes(const char* mode, const std::string& self, const std::string& path,
                               std::uint64_t size) {
    const std::string command =
        "'" + self + "' --child " + mode + " '" + path + "' " + std::to_string(size);
    std::FILE* child = popen(command.c_str(), "r");
    if (child == nullptr) {
        return 0;
    }
    unsigned long long peak = 0;
    const bool read = std::fscanf(child, "%llu", &peak) == 1;
    const int status = pclose(child);
    return read && status == 0 ? peak : 0;
}

// Does the work of one mode ("idle" does nothing: the program's own
// footprint) and prints the peak resident set in bytes.
int Child_Main(std::string_view mode, const std::string& path, std::uint64_t size) {
    bool ok = true;
    if (mode == "fread") {
        ok = Read_Whole_File(path, size);
    } else if (mode == "load") {
        ok = Load_Image(path);
    }
    std::printf("%llu\n", static_cast<unsigned long long>(Own_Peak_Bytes()));
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--child") == 0) {
        return Child_Main(argv[2], argv[3], std::strtoull(argv[4], nullptr, 10));
    }
    const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 64;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    const std::uint64_t size = mib << 20;
    const char* directory = std::getenv("TMPDIR");
    const std::string path = std::string(directory && *directory ? directory : "/tmp") +
                             "/bench-image-" + std::to_string(getpid()) + ".bin";
    if (!Write_Image(path, size)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }

    bool ok = true;
    Seconds_Of(Read_Whole_File, path, size, ok);  // warm the page cache
    std::vector<double> fread_times;
    std::vector<double> load_times;
    for (int round = 0; round < rounds; ++round) {
        // Swap the order every round so neither always runs on a just-freed heap.
        if (round % 2 == 0) {
            fread_times.push_back(Seconds_Of(Read_Whole_File, path, size, ok));
            load_times.push_back(Seconds_Of(Load_Image_Sized, path, size, ok));
        } else {
            load_times.push_back(Seconds_Of(Load_Image_Sized, path, size, ok));
            fread_times.push_back(Seconds_Of(Read_Whole_File, path, size, ok));
        }
    }
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        std::fprintf(stderr, "cannot find this program's path\n");
        return 1;
    }
    const std::uint64_t idle_peak = Child_Peak_Bytes("idle", self, path, size);
    const std::uint64_t fread_peak = Child_Peak_Bytes("fread", self, path, size);
    const std::uint64_t load_peak = Child_Peak_Bytes("load", self, path, size);
    std::remove(path.c_str());
    if (!ok || idle_peak == 0 || fread_peak == 0 || load_peak == 0) {
        std::fprintf(stderr, "a measurement failed\n");
        return 1;
    }

    const double fread_median = Median(fread_times);
    const double load_median = Median(load_times);
    const double to_mib = 1.0 / (1 << 20);
    std::printf("image: %llu MiB, %d rounds, medians\n", static_cast<unsigned long long>(mib),
                rounds);
    std::printf("  one fread          %8.2f ms\n", fread_median * 1e3);
    std::printf("  Parse_File         %8.2f ms\n", load_median * 1e3);
    std::printf("  time ratio         %8.3f  (Parse_File / fread; target <= 1.5)\n",
                load_median / fread_median);
    // The fastest round of each is the least disturbed by other processes.
    const double fread_best = *std::min_element(fread_times.begin(), fread_times.end());
    const double load_best = *std::min_element(load_times.begin(), load_times.end());
    std::printf("  best of rounds     %8.2f ms fread, %.2f ms Parse_File, ratio %.3f\n",
                fread_best * 1e3, load_best * 1e3, load_best / fread_best);
    std::printf("peak resident memory (child processes)\n");
    std::printf("  idle program       %8.1f MiB\n", static_cast<double>(idle_peak) * to_mib);
    std::printf("  one fread          %8.1f MiB\n", static_cast<double>(fread_peak) * to_mib);
    std::printf("  Parse_File         %8.1f MiB\n", static_cast<double>(load_peak) * to_mib);
    std::printf("  Parse_File / file size          %6.3f\n",
                static_cast<double>(load_peak) / static_cast<double>(size));
    std::printf("  (Parse_File - idle) / file size %6.3f  (target < 1.2, plus a few MiB fixed)\n",
                static_cast<double>(load_peak - std::min(load_peak, idle_peak)) /
                    static_cast<double>(size));
    std::printf("  Parse_File / fread peak         %6.3f\n",
                static_cast<double>(load_peak) / static_cast<double>(fread_peak));
    return 0;
}
