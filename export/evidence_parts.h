#pragma once

#include <string>

// The fixed names inside an evidence package (see evidence_package.h), shared by its writer and its check.
inline constexpr char kManifestPart[] = "manifest.json";
inline constexpr char kReadmePart[] = "核验说明.txt";
inline constexpr char kSumsPart[] = "SHA256SUMS";
inline constexpr char kSignaturePart[] = "SHA256SUMS.sig";
inline constexpr char kPublicKeyPart[] = "public-key.pem";
inline constexpr char kManifestFormat[] = "sdvoice-evidence/1";
