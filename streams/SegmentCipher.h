#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

// AES-128-CBC with PKCS#7 padding, the encryption of HLS segments, by OpenSSL's libcrypto.
// libcrypto is loaded with the first decryption rather than with the program, as libcurl is.
namespace SegmentCipher {

// The file the loader opens; the package depends on it.
constexpr const char* kLibraryFileName = "libcrypto.so.3";

// The plain bytes of a whole encrypted segment; nullopt when the key, the IV or the bytes do
// not fit together (a wrong key shows as bad padding), with the reason in `error`.
std::optional<QByteArray> Decrypt(const QByteArray& encrypted, const QByteArray& key,
                                  const QByteArray& iv, QString& error);

} // namespace SegmentCipher
