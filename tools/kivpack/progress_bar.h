// A progress bar on stderr for work that outlasts about a second, drawn only on a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class ProgressBar {
public:
    // `enabled` false (quiet, or stderr not a terminal) draws nothing at all.
    ProgressBar(std::string label, uint64_t total, bool enabled);
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;
    ~ProgressBar();  // erases the bar if one was drawn

    void Update(uint64_t done);

private:
    std::string label;
    uint64_t total;
    bool enabled;
    bool drawn = false;
    int lastPercent = -1;
    std::chrono::steady_clock::time_point start;
};

// True when stderr is a terminal.
bool StderrIsTerminal();
