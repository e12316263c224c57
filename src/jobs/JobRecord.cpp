#include "jobs/JobRecord.h"

#include <algorithm>

bool TlvFilesRecord::needsFrameHook() const {
    if (!hasNeutralColors() || Exposure != kNeutralExposure)
        return true;
    return std::any_of(WmItems.begin(), WmItems.end(), [](const TWmRec& item) {
        return !item.Text.isEmpty() || !item.ImagePath.isEmpty();
    });
}
