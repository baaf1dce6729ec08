#pragma once

#include "platform/result.h"
#include "search/archive_search.h"
#include "web/http_parsing.h"
#include "web/route_context.h"

// The search routes: what the search form offers (GET /api/search-form), a page of the results of
// a search of every known folder or one (GET /api/search) and the statistics of a search
// (GET /api/statistics).
WebResponse HandleSearchForm(RouteContext& context, const WebRequest& request);
WebResponse HandleSearch(RouteContext& context, const WebRequest& request);
WebResponse HandleStatistics(RouteContext& context, const WebRequest& request);

// The criteria of a search from the request's parameters: days "from" and "to" (YYYY-MM-DD, the
// widest range when left out), "phone", "mode" (one of the mode filter's items), "description"
// and "userType".
Result<SearchCriteria> CriteriaOf(const Parameters& parameters);

// A positive whole number parameter; fallback when it is left out, nothing when it is no such number.
std::optional<int> Count(const Parameters& parameters, const QString& name, int fallback);
