#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include "codewindow/CodeWindow.h"

// The choices the screens share, in one place: the code window chosen on
// the edit screen, 前 and 後 (the seconds before and after a tag its moment
// takes), slow play and match time. The widget that edits a choice writes it
// here and follows the signal; everything else asks here. 前, 後, the chosen
// window's name and match time are remembered between runs.
class Workspace : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxSeconds = 60;

    explicit Workspace(QObject* parent = nullptr);

    // 標準 until the edit screen chooses one.
    const CodeWindow& codeWindow() const { return codeWindow_; }
    void setCodeWindow(const CodeWindow& window);
    // The name of the window chosen last (in an earlier run, too).
    QString rememberedCodeWindow() const;
    void rememberCodeWindow(const QString& name);

    int lead() const { return lead_; }
    int lag() const { return lag_; }
    // Kept within 0 to kMaxSeconds.
    void setLead(int seconds);
    void setLag(int seconds);

    bool slowPlay() const { return slowPlay_; }
    void setSlowPlay(bool on);

    // Tag times read as match time (前半 12:34) where the match has periods;
    // off, as video time.
    bool showMatchTime() const { return showMatchTime_; }
    void setShowMatchTime(bool on);

signals:
    // Every choice of a window, the same one again included (its file may
    // have changed).
    void codeWindowChanged();
    void leadChanged(int seconds);
    void lagChanged(int seconds);
    void slowPlayChanged(bool on);
    void showMatchTimeChanged(bool on);

private:
    CodeWindow codeWindow_ = CodeWindow::standard();
    int lead_;
    int lag_;
    bool slowPlay_ = false;
    bool showMatchTime_;
};

// Slow play as the video view's own flag, read and set as a bool. Once kept
// in the workspace it is the workspace's, which the screens ask.
class SlowPlayMode {
public:
    operator bool() const { return workspace_ ? workspace_->slowPlay() : own_; }
    SlowPlayMode& operator=(bool on);
    void keepIn(Workspace* workspace);

private:
    bool own_ = false;
    QPointer<Workspace> workspace_;
};
