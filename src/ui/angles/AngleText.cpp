#include "angles/AngleText.h"

#include <algorithm>
#include <cmath>

#include "angles/AudioOffset.h"
#include "text/TimeText.h"

QString timeText(double seconds) {
    const long long all = std::llround(std::max(0.0, seconds) * 100.0);
    return QString::fromStdString(createTimeString(static_cast<float>(all / 100))) +
           QString(".%1").arg(all % 100, 2, 10, QChar('0'));
}

QString offsetText(double offset) {
    return QString("%1%2 秒").arg(offset > 0 ? "+" : "").arg(offset, 0, 'f', 3);
}

QString driftText(const MatchAngle& angle) {
    const long long ppm = std::llround((angle.scale - 1.0) * 1e6);
    return ppm == 0 ? QString() : QString("%1%2 ppm").arg(ppm > 0 ? "+" : "").arg(ppm);
}

QString mapText(const MatchAngle& angle) {
    const QString drift = driftText(angle);
    return "ずれ " + offsetText(angle.offset) + (drift.isEmpty() ? "" : "、時計の補正 " + drift);
}

QString proposalText(const AudioOffsetGuess& guess) {
    // The sound's own tests find a true match above 0.7 and a wrong one
    // below 0.3.
    const double c = guess.confidence;
    const char* word = c >= 0.7 ? "高" : c >= 0.4 ? "中" : "低";
    QString text = QString("音による提案: ずれ %1（確度 %2 (%3)）")
                       .arg(offsetText(guess.offset), word)
                       .arg(c, 0, 'f', 2);
    if (c < 0.4)
        text +=
            "\n音だけでは確かではありません。同じ瞬間を「この瞬間を合わせる」で合わせてください。";
    else if (c < 0.7)
        text += "\n使う前に、両方の映像で確かめてください。";
    return text;
}
