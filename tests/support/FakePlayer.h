#pragma once

#include <cmath>
#include <vector>

#include "player/Player.h"

// A deterministic player for the screens' tests and bench_ui: the caller sets
// the clock, the duration and the outcome of opening a file, and reads back
// what was asked.
class FakePlayer : public Player {
public:
    double currentTime() const override { return hasItem ? clock : 0.0; }
    double duration() const override { return hasItem ? length : NAN; }
    float rate() const override { return hasItem ? currentRate : 0.0f; }
    void playImmediatelyAtRate(float r) override {
        if (hasItem)
            currentRate = r;
        rateCalls.push_back(r);
    }
    void pause() override {
        currentRate = 0.0f;
        ++pauseCalls;
    }
    void seekExact(double seconds) override {
        seeks.push_back(seconds);
        if (hasItem)
            clock = seconds;
    }
    void seekFast(double seconds) override {
        fastSeeks.push_back(seconds);
        if (hasItem)
            clock = seconds;
    }
    void seekToZero() override { seekExact(0.0); }
    float volume() const override { return vol; }
    void setVolume(float v) override { vol = v; }
    std::string error() const override { return errorText; }
    bool hasCurrentItem() const override { return hasItem; }
    std::string currentPath() const override { return path; }
    void replaceCurrentItem(const std::string& p, std::function<void(bool)> done) override {
        path = p;
        hasItem = false;
        currentRate = 0.0f;
        pending = std::move(done);
        if (openImmediately)
            finishOpening(!failNextOpen);
    }
    void addPeriodicTimeObserver(std::function<void(double)> block) override {
        observers.push_back(std::move(block));
    }

    bool isSeeking() const override { return seeking; }

    // Completes a pending open as the test says.
    void finishOpening(bool ok) {
        hasItem = ok;
        errorText = ok ? "" : "cannot open";
        clock = 0.0;
        if (!ok)
            path.clear();
        if (auto done = std::move(pending)) {
            pending = nullptr;
            done(ok);
        }
    }
    // Runs the periodic observers as the real player does each second.
    void tick() {
        for (auto& o : observers)
            o(currentTime());
    }

    double clock = 0.0;
    double length = NAN;
    float currentRate = 0.0f;
    float vol = 1.0f;
    bool hasItem = false;
    bool seeking = false; // a seek's frame not up yet, as the test says
    bool openImmediately = true;
    bool failNextOpen = false;
    std::string path;
    std::string errorText;
    std::vector<double> seeks;     // exact
    std::vector<double> fastSeeks; // to key frames
    std::vector<float> rateCalls;
    int pauseCalls = 0;
    std::function<void(bool)> pending;
    std::vector<std::function<void(double)>> observers;
};
