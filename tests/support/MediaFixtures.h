#pragma once

#include <QImage>
#include <cstdlib>
#include <string>

// Where the generated media fixtures are (set by CTest).
inline std::string fixturePath(const std::string& name) {
    const char* dir = std::getenv("RUCKTAG_FIXTURES");
    return std::string(dir ? dir : "fixtures") + "/" + name;
}

// Reads the 12-bit frame number bar code across the top sixth of a picture
// that shows the whole video frame (no letterbox). -1 if the picture is empty.
inline int frameNumberOf(const QImage& image) {
    if (image.isNull() || image.width() < 12 || image.height() < 12)
        return -1;
    int number = 0;
    const int y = image.height() / 12;
    for (int bit = 0; bit < 12; ++bit) {
        const int x = (2 * bit + 1) * image.width() / 24;
        if (qGray(image.pixel(x, y)) > 128)
            number |= 1 << bit;
    }
    return number;
}
