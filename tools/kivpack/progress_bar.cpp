// The progress bar of long packaging work.
#include "progress_bar.h"

#include <unistd.h>

#include <cstdio>

constexpr int kBarWidth = 30;
constexpr auto kQuietTime = std::chrono::milliseconds(800);  // work shorter than this shows no bar

ProgressBar::ProgressBar(std::string label, uint64_t total, bool enabled)
    : label(std::move(label)), total(total), enabled(enabled),
      start(std::chrono::steady_clock::now())
{
}

ProgressBar::~ProgressBar()
{
    // "kivpack: ", the label, " [", the bar, "] " and "100%".
    if (drawn) fprintf(stderr, "\r%*s\r", (int)label.size() + kBarWidth + 17, "");
}

void ProgressBar::Update(uint64_t done)
{
    if (!enabled || total == 0) return;
    if (!drawn && std::chrono::steady_clock::now() - start < kQuietTime) return;
    int percent = (int)(done >= total ? 100 : done * 100 / total);
    if (percent == lastPercent) return;
    lastPercent = percent;
    drawn = true;
    int filled = percent * kBarWidth / 100;
    fprintf(stderr, "\rkivpack: %s [%.*s%*s] %3d%%", label.c_str(), filled,
            "##############################", kBarWidth - filled, "", percent);
    fflush(stderr);
}

bool StderrIsTerminal() { return isatty(fileno(stderr)) != 0; }
