#pragma once
// What a torrent's row says it is doing: its status, which also picks the
// row's colours (each value is the index of its colour set in the scheme).

#include "client/common/color_scheme.h"

namespace client {

enum TorrentStatus : int { Paused = 0, Queued = 1, Downloading = 2, Seeding = 3, Error = 4 };

static_assert(int{Paused} == kPausedColors && int{Queued} == kQueuedColors && int{Downloading} == kDownloadingColors &&
              int{Seeding} == kSeedingColors && int{Error} == kErrorColors && int{Error} + 1 == kStatusCount);

}  // namespace client
