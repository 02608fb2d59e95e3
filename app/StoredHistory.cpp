#include "app/StoredHistory.h"

#include "analysis/AnalysisParams.h"
#include "app/LiveData.h"
#include "app/OrbaltApp.h"
#include "app/UserPrompts.h"
#include "platform/LocalTime.h"
#include "session/Session.h"

#include <ctime>

namespace velmora {

StoredHistory::StoredHistory(COrbaltApp& app, UserPrompts& prompts, std::filesystem::path file)
    : m_app(app), m_file(std::move(file)),
      m_local(app.session().barStore, [&prompts](const std::string& text) {
          // From the worker or from start-up: shown once the event loop runs.
          PostToGui([&prompts, text] { prompts.showMessage(text); });
      })
{
    m_app.hooks().loadHistory = [this] {
        if (m_local.open(m_file)) {
            m_local.fill(m_app.session().analysisParams.historyCount);
            m_local.observeBarStore();
        }
    };
}

StoredHistory::~StoredHistory() { m_app.hooks().loadHistory = {}; }

std::string StoredDataNote(std::int64_t savedAt, std::int64_t now)
{
    if (savedAt <= 0)
        return {};
    const std::string when = LocalTimeText(static_cast<std::time_t>(savedAt), "%m-%d %H:%M");
    const std::int64_t minutes = std::max<std::int64_t>(now - savedAt, 0) / 60;
    std::string age;
    if (minutes < 1)
        age = "刚刚";
    else if (minutes < 60)
        age = std::to_string(minutes) + "分钟前";
    else if (minutes < 48 * 60)
        age = std::to_string(minutes / 60) + "小时前";
    else
        age = std::to_string(minutes / (24 * 60)) + "天前";
    return std::string("本地数据，保存于") + when + "（" + age + "）";
}

} // namespace velmora
