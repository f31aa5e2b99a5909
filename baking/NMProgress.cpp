#include "baking/NMProgress.h"

#include "sources/Module.h"

NMStatusPercent::NMStatusPercent(BakeStatusText& status) : status_(status), startText_(status.text()) {}

NMStatusPercent::~NMStatusPercent() { status_.set(startText_); }

void NMStatusPercent::done(double fraction) {
    const int64_t second = moduleApi()->clockMs() / 1000;
    if (second == shownSecond_) return;
    shownSecond_ = second;
    status_.set(startText_ + HostString::fromReal(100.0 * fraction, 3) + "% ");
}
