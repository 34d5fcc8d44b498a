#pragma once

#include <QImage>
#include <QString>

// `text` as a QR code (error correction M), each module `scale` pixels with
// the four-module quiet zone around it; null when it does not fit a code.
QImage qrImage(const QString& text, int scale = 4);
