// How a long step of the bake tells how far it has come, without knowing where that is shown.
#pragma once

#include <cstdint>

#include "baking/BakeStatus.h"
#include "sources/HostString.h"

class NMProgress {
public:
    // The fraction of the step done, in [0, 1]. Called often (hundreds of times a second); may be
    // called from any one thread at a time.
    virtual void done(double fraction) = 0;

protected:
    ~NMProgress() = default;
};

// Shows a step's progress in the status text: the text found there at the start with the
// percentage done appended ("Octree 12.500% "), at most once a second; the text found at the start
// comes back when the step ends (this object goes).
class NMStatusPercent final : public NMProgress {
public:
    explicit NMStatusPercent(BakeStatusText& status);
    NMStatusPercent(const NMStatusPercent&) = delete;
    NMStatusPercent& operator=(const NMStatusPercent&) = delete;
    ~NMStatusPercent();

    void done(double fraction) override;

private:
    BakeStatusText& status_;
    HostString startText_;
    int64_t shownSecond_ = -1;
};
