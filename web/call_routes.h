#pragma once

#include "web/route_context.h"

// The routes of one call, named by the parameter "id" (RecordingId): its details and note
// (GET /api/call), its audio as 16-bit PCM WAV decoded by range (GET /api/audio), its download as
// WAV or MP3 (GET /api/download?format=), its loudness outline (GET /api/outline?points=) and a
// change of its note (POST /api/note). Every request opens the recording once and reads only that
// descriptor. Audio leaves only with an access log entry that covers it: a play when a session
// starts listening to a recording, a download for every download; HEAD sends nothing and writes
// nothing; a request whose entry cannot be written is refused.
WebResponse HandleCall(RouteContext& context, const WebRequest& request);
WebResponse HandleAudio(RouteContext& context, const WebRequest& request);
WebResponse HandleDownload(RouteContext& context, const WebRequest& request);
WebResponse HandleOutline(RouteContext& context, const WebRequest& request);
WebResponse HandleNoteChange(RouteContext& context, const WebRequest& request);
