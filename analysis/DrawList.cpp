#include "analysis/DrawList.h"

namespace velmora {

PageSize PageStep(PageSize page) { return {page.width / 10, page.height / 10}; }

PageSize LineStep(PageSize page) { return PageStep(PageStep(page)); }

} // namespace velmora
