// The number of base stations the relay serves. Ports, IDs, channels, the registration file's
// sections and the dialogs' tabs have one entry per station, numbered 1..kStationCount.
#pragma once

inline constexpr int kStationCount = 4;
