// The media link prober: asks a media server for a candidate link's headers (never its body) and
// turns them into a size and a file extension. Called by the analyzers on their worker thread,
// once per link, synchronously; each call opens and closes its own WinINet session.
#pragma once

#include "HttpHelpers.h"

// The video types the prober knows, compared whole and in row order.
extern const MimeExtension ProbeMimeTable[17];

// Request headers sent when the caller gives none.
extern const WCHAR kDefaultProbeHeaders[];

// Opens url without following redirects and reads its Content-Length into *length (0 when there
// is none) and its type into type (20 characters, cleared by the caller): from the Content-Type
// through ProbeMimeTable, else from the extension in the link's path, else left as it was.
// 1 when the link was opened, 0 (outputs untouched) for an empty link or a failed open.
int ProbeMediaLink(LPCWSTR headers, LPCWSTR url, DWORD* length, LPWSTR type);
