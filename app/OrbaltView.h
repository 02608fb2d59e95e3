#pragma once

#include "analysis/DrawList.h"
#include "analysis/DrawListExport.h"
#include "analysis/ValueChart.h"
#include "analysis/ValueProfile.h"
#include "app/framework/View.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>

class QHelpEvent;
class QMenu;
class QPrinter;

namespace velmora {

class COrbaltDoc;
class ProfileLayerSwitch;
class UserPrompts;
struct Session;

// The scrolling view of an analysis window: the value chart of its document's commodity
// and period, or the quote board.
class COrbaltView : public CView {
    Q_OBJECT

public:
    COrbaltView(COrbaltDoc* document, UserPrompts& prompts, ProfileLayerSwitch& profileLayer);
    ~COrbaltView() override;

    COrbaltDoc* document() const;

    // Cursor steps of the series last analysed; ignored before a pass chose a series.
    void nextTimeUnit();
    void prevTimeUnit();

    // Recomputes the chart title from the current quote, keeping the last counts; repaints
    // when the current price has moved since the last drawing marked it.
    void Retitle();

    // Scrolls so that the current price's level is in the middle of the view, at the next
    // paint. A chart does so by itself when it opens and when its commodity or period changes.
    void centreOnCurrentPrice();

    // Prints the view with the same drawing pass as the screen.
    void printTo(QPrinter& printer);
    void OnFilePrint();
    void OnFilePrintPreview();

    // What the view shows, as a white image through the same drawing pass as the screen: a
    // chart's whole page, the quote board at the window's size. Null when nothing is drawn.
    QImage renderImage();
    // The image on the clipboard.
    void copyImage();
    // Asks for a file and writes the image there, PNG or SVG by the chosen name. The dialog
    // proposes proposedImagePath and the folder of a saved file is kept for the next save.
    void saveImage();
    // A name from what the view shows, in the folder last saved into (else the home folder).
    QString proposedImagePath() const;
    // Writes the image to `path`; false with the reason in `*error`.
    bool exportImage(const QString& path, ImageFormat format, std::string* error);
    // The right button's menu: copy and save for every view; for charts the profile layer's
    // switch (价值区), print and preview.
    QMenu* makeContextMenu(QWidget* parent);

    // What the last paint drew, in page coordinates; for tests and printing.
    const DrawList& lastDrawing() const { return m_lastDrawing; }
    const ValueChartState& chartState() const { return *m_chart; }
    // The profile measures the last paint drew with the layer; none without it.
    const std::optional<ValueProfile>& drawnProfile() const { return m_profile; }

protected:
    void OnDraw(QPainter& painter) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    // The session of the view's document.
    Session& session() const;
    // Computes what to draw for a device of the given size; shows failures.
    DrawList drawPass(QSize clientSize);
    // The pass for an export, with the size of the image it fills.
    DrawList exportPass(QSize& size);
    bool isQuoteBoard() const;
    void reportOnce(std::string_view message);
    // Centres the drawn chart when it is not yet centred for its commodity and period; true
    // when the scroll position changed.
    bool centreIfDue();
    // The drawn chart's layout, or null when the last paint drew no chart.
    const ValueChartLayout* drawnChart() const;
    void showStatus(const std::string& text);
    bool showChartToolTip(QHelpEvent* event);
    // The names and price of the profile's levels on `row` when the layer shows them.
    std::string profileLevelText(int row) const;

    UserPrompts& m_prompts;
    ProfileLayerSwitch& m_profileLayer;
    std::unique_ptr<ValueChartState> m_chart;
    std::optional<ValueProfile> m_profile;
    DrawList m_lastDrawing;
    std::string m_lastReported; // the failure last shown, with the state it was shown for
    bool m_repaintQueued = false;
    SuggestionRepaints m_suggestionRepaints;
    std::optional<std::pair<int, int>> m_centredFor; // commodity and period last centred on
    std::string m_markedPrice;                       // the current price the last drawing marked
    std::string m_statusShown;                       // what the pointer last put in the status bar
};

} // namespace velmora
