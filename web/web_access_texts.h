#pragma once

#include "web/access_log.h"
#include "web/account_store.h"

#include <QString>

// What the dialog "网页访问" says, in the user's words: a role, a logged action, a failure of
// systemctl with the one step to take (its own English text is never shown).

QString RoleText(WebRole role);
QString ActionText(WebAction action);
// started: whether systemctl ran at all; errors: its standard error; port: the server's port.
QString SystemctlFailureText(bool started, const QString& errors, int port);
// A name that the log's lines and the page's sign-in take as typed: no "/", no blank, no control
// character.
bool IsAccountName(const QString& name);
