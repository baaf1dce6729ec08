#pragma once

#include "platform/result.h"

#include <QString>

// Makes a self-signed certificate for this desk (ECDSA P-256, SHA-256, ten years, the host's name
// and "localhost" as its names) with its private key, both written 0600, when both files are
// missing. Existing files are never replaced: the fingerprint colleagues were given stays valid,
// and one file of a pair without the other is a failure.
Result<void> MakeCertificateIfMissing(const QString& certificateFile, const QString& keyFile);
