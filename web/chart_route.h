#pragma once

#include "web/route_context.h"

// The chart picture of the statistics of a search (GET /api/statistics/chart), as PNG.
WebResponse HandleChart(RouteContext& context, const WebRequest& request);
