// The table a benchmark prints: one row per figure with the reference it was
// measured against in the same run, the ratio, the goal and whether it was
// met, then free-text notes. Printed as Markdown so that scripts/bench can put
// it into bench/results.md as it stands.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace bench {

struct Result_Row {
    std::string name;
    std::string measured;  // starts with "FAILED" when the run itself failed
    std::string reference;
    std::string ratio;
    std::string goal;
    std::optional<bool> met;  // nothing: no goal was set
};

class Result_Table {
  public:
    void Add(Result_Row row) {
        std::fprintf(stderr, "  %s: %s (ratio %s)\n", row.name.c_str(), row.measured.c_str(),
                     row.ratio.c_str());
        m_rows.push_back(std::move(row));
    }
    void Note(std::string note) { m_notes.push_back(std::move(note)); }

    bool Any_Failed() const {
        for (const Result_Row& row : m_rows) {
            if (row.measured.rfind("FAILED", 0) == 0)
                return true;
        }
        return false;
    }

    void Print(std::FILE* out) const {
        std::fprintf(out, "| Benchmark | Measured | Reference (same run) | Ratio | Goal | Met |\n");
        std::fprintf(out, "|---|---|---|---|---|---|\n");
        for (const Result_Row& row : m_rows) {
            std::fprintf(out, "| %s | %s | %s | %s | %s | %s |\n", row.name.c_str(),
                         row.measured.c_str(), row.reference.c_str(), row.ratio.c_str(),
                         row.goal.c_str(),
                         !row.met   ? "n/a"
                         : *row.met ? "yes"
                                    : "**no**");
        }
        std::fprintf(out, "\n");
        for (const std::string& note : m_notes)
            std::fprintf(out, "- %s\n", note.c_str());
    }

  private:
    std::vector<Result_Row> m_rows;
    std::vector<std::string> m_notes;
};

// The machine's load average over 1, 5 and 15 minutes ("1.52 1.41 1.30"), for
// the notes: a figure means little without it. Empty where the system has none.
inline std::string Load_Average() {
    char text[128] = {};
    if (std::FILE* file = std::fopen("/proc/loadavg", "r")) {
        if (std::fgets(text, sizeof text, file) == nullptr)
            text[0] = 0;
        std::fclose(file);
    }
    std::string load(text);
    std::size_t end = 0;
    for (int field = 0; field < 3 && end != std::string::npos; ++field)
        end = load.find(' ', end + 1);
    return load.substr(0, end);
}

}  // namespace bench
