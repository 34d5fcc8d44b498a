#pragma once

// A playlist item cut from an H.264 source that is already of the published
// size, without encoding it all: the whole groups of pictures inside the
// range are copied, only the frames before its first IDR frame and from its
// last one on are encoded, by x264 under parameter-set ids of their own, so
// that the three parts decode as one stream of the source's profile and size.

#include <string>

#include "export/ExportParts.h"
#include "publish/ItemRender.h"

namespace publish {

// The source turned out not to be copyable; nothing of the item is kept and
// it is encoded whole instead.
struct SmartCutUnfit {
    std::string why;
};

// Whether the item may be copied: the source's video is H.264 (Constrained
// Baseline, Main or High) 8-bit 4:2:0, progressive, at a steady frame rate,
// no higher than `settings.maxHeight` (nothing to scale) and at an average
// bit rate no more than twice the requested one (a phone on the club's Wi-Fi
// streams it as well as an encoded item). An unknown bit rate (MPEG-TS)
// does not qualify.
bool copyable(const exportparts::Input& in, const RenderSettings& settings);

// Renders [from, to) (the player's seconds) of `in` into `out` (not yet
// started): the video smart cut, the sound encoded as the clip export does.
// Throws SmartCutUnfit, or ExportError as the other paths do.
void smartCut(exportparts::Input& in, exportparts::Output& out, double from, double to,
              const RenderSettings& settings, const std::atomic<bool>& cancelled,
              const std::function<void(double)>& progress);

} // namespace publish
