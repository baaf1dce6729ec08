#pragma once

#include "web/web_request.h"

class AccessLog;
class AccountStore;

// The administrator's routes: the accounts (GET /api/accounts; POST /api/accounts/add, /role, /password,
// /remove with the form fields name, role, password) and the access log (GET /api/log?count=N, the
// newest first). Answers are JSON; a refused change answers 400 with {"error": reason}.
QList<WebRoute> AdminRoutes(AccountStore& accounts, AccessLog& log);
