#pragma once

#include "analysis/DrawList.h"
#include "analysis/ValueChart.h"
#include "app/framework/View.h"

#include <memory>
#include <string>

class QPrinter;

namespace velmora {

class COrbaltDoc;
class UserPrompts;

// The scrolling view of an analysis window: the value chart of its document's commodity
// and period, or the quote board.
class COrbaltView : public CView {
    Q_OBJECT

public:
    COrbaltView(COrbaltDoc* document, UserPrompts& prompts);
    ~COrbaltView() override;

    COrbaltDoc* document() const;

    // Cursor steps of the series last analysed; ignored before a pass chose a series.
    void NextTimeUnit();
    void PrevTimeUnit();

    // Recomputes the chart title from the current quote, keeping the last counts.
    void Retitle();

    // Prints the view with the same drawing pass as the screen.
    void PrintTo(QPrinter& printer);
    void OnFilePrint();
    void OnFilePrintPreview();

    // What the last paint drew, in page coordinates; for tests and printing.
    const DrawList& lastDrawing() const { return m_lastDrawing; }
    const ValueChartState& chartState() const { return *m_chart; }

protected:
    void OnDraw(QPainter& painter) override;

private:
    // Computes what to draw for a device of the given size; shows failures.
    DrawList drawPass(QSize clientSize);
    void reportOnce(std::string_view message);

    UserPrompts& m_prompts;
    std::unique_ptr<ValueChartState> m_chart;
    DrawList m_lastDrawing;
    std::string m_lastReported; // the failure last shown, with the state it was shown for
    bool m_repaintQueued = false;
};

} // namespace velmora
