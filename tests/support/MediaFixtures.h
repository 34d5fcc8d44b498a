#pragma once

#include <QImage>
#include <cstdlib>
#include <string>

// Where the generated media fixtures are (set by CTest).
inline std::string fixturePath(const std::string& name) {
    const char* dir = std::getenv("RUCKTAG_FIXTURES");
    return std::string(dir ? dir : "fixtures") + "/" + name;
}

// Reads the frame number bar code (`bits` cells) across the top sixth of a
// picture that shows the whole video frame (no letterbox). -1 if the picture
// is empty.
inline int frameNumberOf(const QImage& image, int bits = 12) {
    if (image.isNull() || image.width() < bits || image.height() < 12)
        return -1;
    int number = 0;
    const int y = image.height() / 12;
    for (int bit = 0; bit < bits; ++bit) {
        const int x = (2 * bit + 1) * image.width() / (2 * bits);
        if (qGray(image.pixel(x, y)) > 128)
            number |= 1 << bit;
    }
    return number;
}
