#include "SegmentCipher.h"

#include <dlfcn.h>
#include <openssl/evp.h>

namespace SegmentCipher {

namespace {

struct Api {
    decltype(&EVP_CIPHER_CTX_new) ctx_new;
    decltype(&EVP_CIPHER_CTX_free) ctx_free;
    decltype(&EVP_aes_128_cbc) aes_128_cbc;
    decltype(&EVP_DecryptInit_ex) init;
    decltype(&EVP_DecryptUpdate) update;
    decltype(&EVP_DecryptFinal_ex) final;
};

struct Loaded {
    Api api{};
    bool ok = false;
    QString error;
};

template <typename Function> bool Resolve(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

Loaded LoadNow() {
    Loaded loaded;
    // Stays loaded to the end of the process, as a linked library would.
    void* library = dlopen(kLibraryFileName, RTLD_NOW | RTLD_LOCAL);
    Api& api = loaded.api;
    loaded.ok = library && Resolve(library, "EVP_CIPHER_CTX_new", api.ctx_new) &&
                Resolve(library, "EVP_CIPHER_CTX_free", api.ctx_free) &&
                Resolve(library, "EVP_aes_128_cbc", api.aes_128_cbc) &&
                Resolve(library, "EVP_DecryptInit_ex", api.init) &&
                Resolve(library, "EVP_DecryptUpdate", api.update) &&
                Resolve(library, "EVP_DecryptFinal_ex", api.final);
    if (!loaded.ok)
        loaded.error = QString::fromLocal8Bit(dlerror());
    return loaded;
}

const Loaded& Once() {
    static const Loaded loaded = LoadNow();
    return loaded;
}

} // namespace

std::optional<QByteArray> Decrypt(const QByteArray& encrypted, const QByteArray& key,
                                  const QByteArray& iv, QString& error) {
    const Loaded& loaded = Once();
    if (!loaded.ok) {
        error = loaded.error;
        return std::nullopt;
    }
    if (key.size() != 16 || iv.size() != 16 || encrypted.isEmpty() || encrypted.size() % 16) {
        error = QStringLiteral("the key or the encrypted bytes are not AES-128's");
        return std::nullopt;
    }
    const Api& api = loaded.api;
    EVP_CIPHER_CTX* context = api.ctx_new();
    if (!context) {
        error = QStringLiteral("out of memory");
        return std::nullopt;
    }
    QByteArray plain(encrypted.size() + 16, Qt::Uninitialized);
    int written = 0;
    int last = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(encrypted.constData());
    auto* out = reinterpret_cast<unsigned char*>(plain.data());
    const bool ok = api.init(context, api.aes_128_cbc(), nullptr,
                             reinterpret_cast<const unsigned char*>(key.constData()),
                             reinterpret_cast<const unsigned char*>(iv.constData())) == 1 &&
                    api.update(context, out, &written, in, int(encrypted.size())) == 1 &&
                    api.final(context, out + written, &last) == 1;
    api.ctx_free(context);
    if (!ok) {
        error = QStringLiteral("it does not decrypt with its key");
        return std::nullopt;
    }
    plain.resize(written + last);
    return plain;
}

} // namespace SegmentCipher
