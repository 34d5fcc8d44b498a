#pragma once

// Reading exported files with FFmpeg's own command-line tools.
#include <QImage>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/MediaFixtures.h"

namespace fs = std::filesystem;

inline std::string run(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        std::array<char, 4096> buf{};
        while (size_t n = std::fread(buf.data(), 1, buf.size(), p))
            out.append(buf.data(), n);
        ::pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

inline std::string probe(const fs::path& file, const std::string& entries,
                         const char* stream = "") {
    return run(std::string("ffprobe -v error ") + stream + " -show_entries " + entries +
               " -of default=nw=1:nk=1 '" + file.string() + "'");
}

// The number shown by the frame at position `n` of the file (-1: the last).
inline int frameAt(const fs::path& file, int n, const fs::path& png) {
    if (n < 0)
        n = std::stoi(run("ffprobe -v error -count_frames -select_streams v -show_entries "
                          "stream=nb_read_frames -of default=nw=1:nk=1 '" +
                          file.string() + "'")) -
            1;
    const std::string cmd = "ffmpeg -v error -y -i '" + file.string() + "' -vf 'select=eq(n\\," +
                            std::to_string(n) + ")' -fps_mode passthrough -frames:v 1 '" +
                            png.string() + "'";
    if (std::system(cmd.c_str()) != 0)
        return -1;
    return frameNumberOf(QImage(QString::fromStdString(png.string())));
}

// The numbers shown by every frame of the file, in order (one decode).
// `crop` picks one picture of a composite ("w:h:x:y" in pixels, empty: all).
inline std::vector<int> frameNumbers(const fs::path& file, int bits = 12,
                                     const std::string& crop = "") {
    // The bar code's band squeezed to two pixels a cell, one row.
    const std::string region = crop.empty() ? "" : "crop=" + crop + ",";
    const std::string cmd = "ffmpeg -v error -i '" + file.string() + "' -vf '" + region +
                            "crop=iw:ih/12:0:0,scale=" + std::to_string(2 * bits) +
                            ":1:flags=area' -fps_mode passthrough -f rawvideo -pix_fmt gray -";
    std::vector<int> numbers;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        std::vector<unsigned char> px(static_cast<size_t>(2 * bits));
        while (std::fread(px.data(), 1, px.size(), p) == px.size()) {
            int n = 0;
            for (int bit = 0; bit < bits; ++bit)
                if (px[static_cast<size_t>(2 * bit)] + px[static_cast<size_t>(2 * bit + 1)] > 256)
                    n |= 1 << bit;
            numbers.push_back(n);
        }
        ::pclose(p);
    }
    return numbers;
}

// The numbers first..last of each span, in order.
inline std::vector<int> frameSpans(const std::vector<std::pair<int, int>>& spans) {
    std::vector<int> out;
    for (const auto& [first, last] : spans)
        for (int n = first; n <= last; ++n)
            out.push_back(n);
    return out;
}

// One number per line of ffprobe's answer.
inline std::vector<double> probeNumbers(const fs::path& file, const std::string& entries,
                                        const char* stream) {
    std::vector<double> out;
    const std::string text = probe(file, entries, stream);
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end == std::string::npos ? end : end - at);
        if (!line.empty() && line != "N/A")
            out.push_back(std::stod(line));
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return out;
}
