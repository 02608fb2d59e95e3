#pragma once

#include <QObject>
#include <optional>

namespace velmora {

// The switch of the profile layer that the toolbar button and every chart window's menu share;
// the windows repaint and the button follows when it changes. The application owns it.
class ProfileLayerSwitch : public QObject {
    Q_OBJECT

public:
    // Read from the settings store the first time it is asked for.
    bool shown() const;
    // Keeps the choice in the settings store; announces a change.
    void setShown(bool shown);
    void toggle() { setShown(!shown()); }

signals:
    void shownChanged(bool shown);

private:
    mutable std::optional<bool> m_shown;
};

} // namespace velmora
