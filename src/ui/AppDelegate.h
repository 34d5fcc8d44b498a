#pragma once

#include <QObject>

// The application's launch and termination hooks; nothing happens in them.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    void applicationWillFinishLaunching() {}
    void applicationDidFinishLaunching() {}
    void applicationWillTerminate() {}
};
