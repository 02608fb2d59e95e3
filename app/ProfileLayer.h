#pragma once

#include <QObject>

namespace velmora {

// The one switch of the profile layer that the toolbar button and every chart window's menu
// share; the windows repaint and the button follows when it changes.
class CProfileLayerSwitch : public QObject {
    Q_OBJECT

public:
    static CProfileLayerSwitch& instance();

    bool shown() const;
    // Keeps the choice in the settings store; announces a change.
    void setShown(bool shown);
    void toggle() { setShown(!shown()); }

signals:
    void shownChanged(bool shown);
};

} // namespace velmora
