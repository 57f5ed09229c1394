#pragma once
// The lines every run writes around its probes, with the stand-in's 150 ms
// restored, and a probe's line by its outcome.
#include "untRunLog.h"

#include <initializer_list>
#include <string>
#include <vector>

using TLines = std::vector<std::string>;

using runlog::Separator;
inline const TLines Head = {runlog::Connecting, runlog::SettingTimeout(100000),
                            runlog::Disconnecting, Separator, runlog::FixedSeries};
inline const TLines Restore = {Separator, runlog::SettingTimeout(150), runlog::Disconnecting};

inline std::string Ok(uint32_t Delay) {
    return runlog::Probe(Delay, runlog::Passed);
}
inline std::string NotOk(uint32_t Delay) {
    return runlog::Probe(Delay, runlog::NotPassed);
}
inline std::string Cut(uint32_t Delay) {
    return runlog::Probe(Delay, runlog::Stopped);
}

inline TLines Join(std::initializer_list<TLines> Parts) {
    TLines All;
    for (const auto& P : Parts)
        All.insert(All.end(), P.begin(), P.end());
    return All;
}
