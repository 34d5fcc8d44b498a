#pragma once

// The angles of a match in an export: reading an angle's picture at any
// instant, tiling pictures into one, and cutting a moment the way an
// AngleExportChoice says. Runs on the export's worker thread.
#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "export/AngleExport.h"
#include "export/ExportParts.h"

namespace exportparts {

// The picture of one angle's file at any time, read forward (seeking only
// when asked for an earlier time or one far ahead). Its sound is not read;
// its frames are as decoded (an interlaced angle is not deinterlaced).
class AngleReader {
public:
    explicit AngleReader(const std::string& path);
    // The frame shown at `t` (the angle's player time): the latest whose
    // time is at or before it. Null when the file has no picture then
    // (before its first frame, after its last).
    const AVFrame* frameAt(double t);
    Input& input() { return in_; }

private:
    void reposition(double fileT);
    bool decodeNext();

    Input in_;
    FramePtr cur_, next_;
    bool haveCur_ = false, haveNext_ = false, eof_ = false, started_ = false;
    double curT_ = 0, nextT_ = 0;
    double frameLength_ = 0.04;
    double firstT_ = 0; // the file's first picture
};

// Pictures tiled into one of a fixed size: `columns` × `rows` tiles, each
// picture scaled into its tile with its shape kept (black bars), a missing
// picture a black tile saying so.
class TileCanvas {
public:
    TileCanvas(int width, int height, int columns, int rows);
    FramePtr compose(const std::vector<const AVFrame*>& tiles);

private:
    struct Scaler {
        Graph graph;
        int width = 0, height = 0, format = -1;
        int64_t pts = 0;
    };
    FramePtr scaled(size_t tile, const AVFrame& picture);
    // Marks an empty tile at (x0, y0) as having no picture.
    void markNoPicture(AVFrame& canvas, int x0, int y0);

    int width_, height_, columns_;
    int tileW_, tileH_;
    std::vector<Scaler> scalers_;
    std::vector<uint8_t> noPicture_; // the luma of 「映像なし」 at the tile's size
    bool noPictureMade_ = false;
};

// Cuts moments (main video's time) as a choice of angles says, through the
// export's video and audio paths.
class AngleCutter {
public:
    explicit AngleCutter(AngleExportChoice choice);
    ~AngleCutter();
    AngleExport layout() const { return choice_.layout; }
    // The input whose picture sets the export's size and rate for a moment
    // of the main video `mainPath` (`main` opened): the chosen angle's for
    // OneAngle, else the main's.
    Input& pictureInput(const std::string& mainPath, Input& main);
    // `base` with the composite's size for a main video of this size.
    VideoSettings settings(const Input& main, VideoSettings base) const;
    // Parts a moment of `mainPath` makes (InTurn: one per angle more).
    size_t parts(const std::string& mainPath);
    void cut(const std::string& mainPath, Input& main, VideoPath& video, AudioPath& audio,
             double start, double end, const std::atomic<bool>& cancelled,
             const std::function<void(double)>& progress);

private:
    struct MainAngles;
    MainAngles& of(const std::string& mainPath);
    AngleReader& reader(MainAngles& m, size_t i);
    void cutComposite(MainAngles& m, Input& main, VideoPath& video, AudioPath& audio, double start,
                      double end, const std::atomic<bool>& cancelled,
                      const std::function<void(double)>& progress);
    void cutInTurn(MainAngles& m, Input& main, VideoPath& video, AudioPath& audio, double start,
                   double end, const std::atomic<bool>& cancelled,
                   const std::function<void(double)>& progress);

    // The canvas of this size and tiling, made once.
    TileCanvas& canvas(int width, int height, int columns, int rows);

    AngleExportChoice choice_;
    std::map<std::string, std::unique_ptr<MainAngles>> mains_;
    std::map<std::array<int, 4>, std::unique_ptr<TileCanvas>> canvases_;
};

// Cuts the moment [start, end] of the main video `sound` (player's seconds)
// with the picture of the angle `picture`, whose time `map` gives: the
// angle's own frames from angleTime(start) to angleTime(end), under the
// main's sound of the same instants.
void cutPieceWithSound(Input& picture, Input& sound, const MatchAngle& map, VideoPath& video,
                       AudioPath& audio, double start, double end,
                       const std::atomic<bool>& cancelled,
                       const std::function<void(double)>& progress);

} // namespace exportparts
